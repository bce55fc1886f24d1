#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a bounded time. Any crash, sanitizer report or broken rule fails the run;
# the input that caused it is kept in the build folder under artifacts/.
#
#   fuzz/run.sh              every target for FUZZ_SECONDS (default 30) seconds
#   fuzz/run.sh fuzz_loader  one target
#
# FUZZ_BUILD_DIR sets the build folder (default build-fuzz beside this folder).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${FUZZ_SECONDS:-30}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_loader fuzz_assembly fuzz_settings fuzz_download)

echo "== Build fuzz targets with clang in $build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"

seeds="$build/seeds"
rm -rf "$seeds"
"$build/makeseeds" "$seeds"

# The files each input becomes are written to a scratch folder; memory is quicker.
scratch="${TMPDIR:-/tmp}"
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
export TMPDIR="$scratch" QT_QPA_PLATFORM=offscreen
# A smaller quarantine and shorter allocation stacks keep the allocator quick with the
# many small allocations of the Qt libraries; every check stays on.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1:quarantine_size_mb=16:max_malloc_fill_size=0:malloc_context_size=5"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"

failed=()
for target in "${targets[@]}"; do
  seed="$seeds/${target#fuzz_}"
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts"
  log="$build/$target.log"
  mkdir -p "$corpus" "$artifacts"
  echo "== $target for $seconds s"
  # Leak checks after every input would take most of the time (the Qt libraries keep
  # caches, so allocations and releases rarely balance): the fuzzing runs without them, and
  # then every input of the corpus is run once more with them.
  status=0
  "$build/$target" -detect_leaks=0 -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
    "$corpus" "$seed" >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    "$build/$target" -detect_leaks=1 -runs=0 -artifact_prefix="$artifacts/$target-" \
      "$corpus" >"$log.leaks" 2>&1 || { status=$?; cat "$log.leaks" >>"$log"; }
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  if [ "$status" -ne 0 ] || [ -z "$runs" ]; then
    echo "$target FAILED (exit status $status); the last lines of $log:"
    tail -40 "$log"
    failed+=("$target")
  else
    echo "$target: $runs executions in $seconds s, corpus $(ls "$corpus" | wc -l) inputs, no crash"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "== Fuzzing failed: ${failed[*]}"
  exit 1
fi
echo "== Fuzzing: no crash"
