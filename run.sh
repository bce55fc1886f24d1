#!/usr/bin/env bash
# Set-up and entry point for a fresh Debian 12 machine.
#
#   ./run.sh test                  install what is missing, build, run every test (plain
#                                  build, then a second build with AddressSanitizer and
#                                  UBSan, then the fuzz targets for a bounded time each)
#   ./run.sh demo [single] [--auto]
#                                  install what the demo needs, build, and run
#                                  OrvantBootLoader11 (or OrvantBootLoader) against the
#                                  simulated target; --auto runs headless to the end
#   ./run.sh build                 install and build only
#   ./run.sh package               build the two Debian packages in build-package/, check
#                                  them with lintian, install orvant-flash alone and check
#                                  it, then orvant-bootloader (both stay installed), and
#                                  check that the installed window programs start
#   ./run.sh windows               build the Windows release in build-windows/: Qt for
#                                  Windows once into ~/.cache/orvant-windows (or
#                                  $ORVANT_WINDOWS_CACHE), the three programs, a zip and an
#                                  installer; Qt's qtserialport/ and qtsvg/ sources come from
#                                  the folder $ORVANT_QT_SOURCES names, else are cloned
#   ./run.sh windows-test          try that release under wine on a virtual display,
#                                  programming the simulated target through ser2net
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"

# What building and running the programs needs; the tests add the fuzzing compiler and
# ser2net, the device server that the network-port tests start on loopback ports.
BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
)
TEST_PACKAGES=(clang libclang-rt-14-dev llvm ser2net)
# The Windows release: the cross compiler, the host's Qt build tools (same Qt version),
# Debian's source tools for qtbase, git for Qt's other modules, the packers; and for trying
# it, wine on a virtual display with screenshots and clicks, and a board to program:
# targetsim (built from these sources) behind ser2net.
WINDOWS_PACKAGES=(
  cmake ninja-build dpkg-dev git qt6-base-dev qt6-base-dev-tools
  g++-mingw-w64-x86-64-posix mingw-w64-tools nsis help2man zip unzip
)
WINDOWS_TEST_PACKAGES=(wine wine64 xvfb xauth x11-utils xdotool imagemagick ser2net iproute2)
# Making and checking the packages: the man page, the checks, man -w, the completion.
PACKAGE_PACKAGES=(dpkg-dev help2man lintian man-db bash-completion)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Waits for the package database when another installation holds it.
apt_get() { # apt-get arguments...
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"
}

installed() { # package
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

install_packages() { # packages...
  local missing=()
  for p in "$@"; do
    installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== Installing: ${missing[*]}"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
}

build_jobs() { nproc 2>/dev/null || echo 2; }

build() { # build dir, extra cmake args...
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja -DORVANT_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$(build_jobs)"
}

run_tests() { # build dir
  (cd "$1" && ctest --output-on-failure -j "$(build_jobs)")
}

cmd="${1:-test}"
case "$cmd" in
  build)
    install_packages "${BUILD_PACKAGES[@]}"
    build build
    ;;
  test)
    install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    echo "== Build"
    build build
    echo "== Tests"
    run_tests build
    echo "== Build with AddressSanitizer and UndefinedBehaviorSanitizer"
    build build-asan -DORVANT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    echo "== Tests under the sanitizers"
    run_tests build-asan
    echo "== Fuzzing (libFuzzer with AddressSanitizer and UBSan, about 30 s a target)"
    "$here/fuzz/run.sh"
    ;;
  demo)
    install_packages "${BUILD_PACKAGES[@]}"
    build build
    shift || true
    exec "$here/tools/demo.sh" "$here/build" "$@"
    ;;
  package)
    # A folder of its own, so build/ keeps its build type; Debian's hardened compiler and
    # linker flags, as a package built by dpkg-buildpackage gets them.
    install_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    build build-package -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
    rm -f build-package/*.deb
    (cd build-package && cpack -G DEB >/dev/null)
    cli_deb="$(ls "$here"/build-package/orvant-flash_*.deb)"
    windows_deb="$(ls "$here"/build-package/orvant-bootloader_*.deb)"
    for deb in "$cli_deb" "$windows_deb"; do
      # Errors fail the run; warnings are printed.
      tags="$(lintian --fail-on error "$deb" 2> >(grep -v "root privileges" >&2))" \
        || { echo "$tags"; echo "lintian reports errors in $deb"; exit 1; }
      echo "== $(basename "$deb"): $(stat -c %s "$deb") bytes; lintian: ${tags:-no errors or warnings}"
    done
    # A headless station must not get the desktop libraries with the command-line programmer.
    depends="$(dpkg-deb -f "$cli_deb" Depends)"
    if grep -Eiq 'libqt6(gui|widgets|svg|opengl)|qt6-qpa-plugins' <<<"$depends"; then
      echo "orvant-flash depends on desktop libraries: $depends"; exit 1
    fi
    # Network ports (socket://, rfc2217://) need Qt Network on a station that has nothing else.
    grep -q 'libqt6network6' <<<"$depends" \
      || { echo "orvant-flash does not depend on libqt6network6: $depends"; exit 1; }
    echo "   orvant-flash depends on: $depends"

    for package in orvant-bootloader orvant-flash; do
      if installed "$package"; then
        echo "== Removing the installed $package"
        apt_get remove -y -qq "$package" >/dev/null
      fi
    done
    echo "== Installing $(basename "$cli_deb") alone"
    apt_get install -y -qq "$cli_deb" >/dev/null
    [ ! -e /usr/bin/OrvantBootLoader ] || { echo "orvant-flash installed a window program"; exit 1; }
    # The command-line programmer needs no display; its help must come up complete.
    /usr/bin/orvant-flash --help | grep "^Exit status:" >/dev/null \
      || { echo "/usr/bin/orvant-flash --help is incomplete"; exit 1; }
    echo "   /usr/bin/orvant-flash $(/usr/bin/orvant-flash --version | cut -d' ' -f2) runs"
    manpage="$(man -w orvant-flash)" || { echo "orvant-flash has no man page"; exit 1; }
    echo "   man page: $manpage"
    bash -c '. /usr/share/bash-completion/bash_completion
             _completion_loader orvant-flash; complete -p orvant-flash' >/dev/null 2>&1 \
      || { echo "bash has no completion for orvant-flash"; exit 1; }
    echo "   bash completion for orvant-flash loads"

    echo "== Installing $(basename "$windows_deb")"
    apt_get install -y -qq "$windows_deb" >/dev/null
    # Each installed program must come up and keep running until it is stopped.
    config="$(mktemp -d)"
    for program in OrvantBootLoader11 OrvantBootLoader; do
      status=0
      XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=offscreen timeout 3 "/usr/bin/$program" \
        >"$config/$program.log" 2>&1 || status=$?
      if [ "$status" -ne 124 ]; then
        echo "$program did not start (status $status):"; cat "$config/$program.log"; exit 1
      fi
      manpage="$(man -w "$program")" || { echo "$program has no man page"; exit 1; }
      echo "   /usr/bin/$program starts; man page: $manpage"
    done
    rm -rf "$config"
    ;;
  windows)
    install_packages "${WINDOWS_PACKAGES[@]}"
    "$here/tools/windows/build-release.sh" "$here/build-windows"
    ;;
  windows-test)
    install_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${WINDOWS_TEST_PACKAGES[@]}"
    [ -n "$(ls "$here"/build-windows/*-setup.exe 2>/dev/null)" ] \
      || "$here/tools/windows/build-release.sh" "$here/build-windows"
    "$here/tools/windows/test-release.sh" "$here/build-windows"
    ;;
  *)
    echo "usage: $0 test | demo [single] [--auto] | build | package | windows | windows-test" >&2
    exit 2
    ;;
esac
