#!/usr/bin/env bash
# Runs one of the programs against the simulated target, without a board and without
# touching the user's own settings, then checks that the target's flash holds the code.
#
#   tools/demo.sh BUILD_DIR [single] [--auto]
#
#   single   OrvantBootLoader instead of OrvantBootLoader11 (drive type TROX)
#   --auto   no display needed: the window presses Program itself and closes when the
#            download has ended
#
# Exits with 0 only when the programmed words equal the code file.
set -euo pipefail

build="$(cd "$1" && pwd)"
shift
which=multi
auto=0
for arg in "$@"; do
  case "$arg" in
    single|singlefile) which=single ;;
    multi|multidrive|11) which=multi ;;
    --auto) auto=1 ;;
    *) echo "usage: tools/demo.sh BUILD_DIR [single] [--auto]" >&2; exit 2 ;;
  esac
done

case "$which" in
  multi)  program=OrvantBootLoader11; programdir=multidrive ;;
  single) program=OrvantBootLoader;   programdir=singlefile ;;
esac

if [ "$auto" -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  hint=""; [ "$which" = single ] && hint=" single"
  echo "No display to show the window on: run the demo from a desktop session, or headless with './run.sh demo$hint --auto'." >&2
  exit 1
fi

targetsim="$build/targetsim/targetsim"
work="$(mktemp -d -t orvant-demo.XXXXXX)"
simpid=""
cleanup() {
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The program looks for the four support files beside itself: run a copy of it from a
# folder that holds the sample ones.
app="$work/app"
mkdir -p "$app" "$work/config"
"$targetsim" --write-samples "$app" --words 2000 --code-name sample.hex
cp "$build/$programdir/$program" "$app/"
code="$app/sample.hex"

# The simulated target, serving downloads until the window closes.
"$targetsim" --downloads 0 --link "$work/ttyTARGET" --flash-out "$work/flash.txt" \
  >"$work/targetsim.out" 2>&1 &
simpid=$!
for _ in $(seq 50); do [ -s "$work/targetsim.out" ] && break; sleep 0.1; done
port="$work/ttyTARGET"

# A settings file in a folder of its own, naming the sample code file and the simulated
# target's line.
crlf() { printf '%s\r\n' "$@"; }
if [ "$program" = OrvantBootLoader11 ]; then
  settings="$work/config/ZizUdederAdev11.cfg"
  crlf "\"$code\"" '""' '""' '"TROX"' "\"$port\"" >"$settings"
else
  settings="$work/config/ZizUdederAdev.cfg"
  crlf "\"$code\"" "\"$port\"" >"$settings"
fi

echo "== $program against the simulated target on $port"
if [ "$auto" -eq 1 ]; then
  echo "   Pressing Program; the window closes when the download has ended."
  QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" \
    "$build/tools/demo-auto-$programdir" "$settings" "$app" || true
else
  echo "   Press Program; close the window when the log shows the programmed-in time."
  XDG_CONFIG_HOME="$work/config" "$app/$program" || true
fi

kill -TERM "$simpid" 2>/dev/null || true
wait "$simpid" 2>/dev/null || true
simpid=""
echo "== targetsim"
tail -n +2 "$work/targetsim.out"

# The flash the target reports, against the code file's words at their addresses.
expected="$work/expected.txt"
tr -d '\r' <"$code" | awk -f "$(dirname "${BASH_SOURCE[0]}")/codewords.awk" | sort >"$expected"
if [ ! -s "$work/flash.txt" ]; then
  echo "== Check FAILED: no download completed, nothing was programmed."
  exit 1
elif cmp -s "$expected" <(sort "$work/flash.txt"); then
  echo "== Check: the programmed words equal the code file ($(wc -l <"$expected") words)."
else
  echo "== Check FAILED: the programmed words differ from the code file."
  exit 1
fi
