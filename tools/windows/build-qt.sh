#!/usr/bin/env bash
# Builds Qt 6.4.2 for 64-bit Windows (qtbase, qtserialport, qtsvg) with the MinGW-w64 cross
# compiler, once, into "$cache/qt" (default cache: ~/.cache/orvant-windows). A later run finds
# "$cache/qt/.complete" and does nothing.
#
#   tools/windows/build-qt.sh [cache folder]
#
# qtbase comes from Debian's source package of the host's own Qt (same version, so the host's
# moc, rcc and uic serve as the build tools). qtserialport and qtsvg come from the folder that
# ORVANT_QT_SOURCES names (holding qtserialport/ and qtsvg/ at tag v6.4.2); without it they are
# cloned from Qt's public repositories.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cache="${1:-${ORVANT_WINDOWS_CACHE:-$HOME/.cache/orvant-windows}}"
qt_version=6.4.2
prefix="$cache/qt"
toolchain="$here/mingw-toolchain.cmake"
jobs="$(nproc 2>/dev/null || echo 2)"

die() { echo "build-qt: $*" >&2; exit 1; }

# How qtbase is configured. The Direct2D feature stays on: Qt's Gui builds the DirectWrite
# font database only with it, and the windows platform plugin needs that database (the
# Direct2D platform plugin itself is built but not shipped). The network module is on for
# network serial ports; OpenSSL stays off.
qtbase_options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
  -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF -DFEATURE_tabletevent=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=ON -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_vulkan=OFF -DFEATURE_testlib=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_libpng=OFF -DFEATURE_system_libjpeg=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_fontconfig=OFF -DFEATURE_icu=OFF
  -DFEATURE_openssl=OFF -DFEATURE_sql_sqlite=OFF -DFEATURE_direct2d=ON
)
modules=(qtserialport qtsvg)

# What the cache was built from: a cache whose record differs (or that has none, as one made
# before the record existed) is rebuilt rather than trusted.
configuration() {
  echo "qt $qt_version"
  echo "modules ${modules[*]}"
  echo "cross compiler $(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || echo none)"
  echo "toolchain $(sha256sum < "$toolchain" | cut -d' ' -f1)"
  printf 'qtbase %s\n' "${qtbase_options[@]}"
}
record="$prefix/.configuration"
if [ -f "$prefix/.complete" ]; then
  if [ -f "$record" ] && configuration | cmp -s - "$record"; then
    echo "== Qt $qt_version for Windows: already built in $prefix"
    exit 0
  fi
  if [ -f "$record" ]; then
    echo "== Qt for Windows in $prefix was built with another configuration: rebuilding it"
    configuration | diff "$record" - | sed 's/^/   /' || true
  else
    echo "== Qt for Windows in $prefix has no record of its configuration: rebuilding it"
  fi
fi
mkdir -p "$cache/src"
start=$(date +%s)

# qtbase: Debian's source package, which needs a deb-src entry for the suites in use.
qtbase_src="$(ls -d "$cache"/src/qt6-base-*/ 2>/dev/null | head -1 || true)"
if [ -z "$qtbase_src" ]; then
  if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    echo "== Adding a deb-src entry for Debian's source packages"
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    sed -n 's/^Types: deb$/Types: deb-src/p; /^URIs:/p; /^Suites:/p; /^Components:/p; /^Signed-By:/p; /^$/p' \
      /etc/apt/sources.list.d/debian.sources 2>/dev/null | $sudo tee /etc/apt/sources.list.d/orvant-deb-src.sources >/dev/null || true
    if [ ! -s /etc/apt/sources.list.d/orvant-deb-src.sources ]; then
      grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
        | $sudo tee /etc/apt/sources.list.d/orvant-deb-src.list >/dev/null
      $sudo rm -f /etc/apt/sources.list.d/orvant-deb-src.sources
    fi
    $sudo apt-get update -qq
  fi
  echo "== Fetching Debian's qt6-base source package"
  (cd "$cache/src" && apt-get source -qq qt6-base) || die "apt-get source qt6-base failed"
  qtbase_src="$(ls -d "$cache"/src/qt6-base-*/ | head -1)"
fi
case "$qtbase_src" in
  *"-$qt_version"*|*"_$qt_version"*|*"$qt_version"*) ;;
  *) die "the qt6-base source in $qtbase_src is not Qt $qt_version" ;;
esac

# qtserialport and qtsvg: a prepared folder, or clones of Qt's repositories.
for module in "${modules[@]}"; do
  if [ -n "${ORVANT_QT_SOURCES:-}" ]; then
    [ -f "$ORVANT_QT_SOURCES/$module/CMakeLists.txt" ] \
      || die "ORVANT_QT_SOURCES=$ORVANT_QT_SOURCES holds no $module/ (check out tag v$qt_version of qt/$module there)"
  elif [ ! -f "$cache/src/$module/CMakeLists.txt" ]; then
    echo "== Cloning $module v$qt_version (set ORVANT_QT_SOURCES to a folder with $module/ to avoid this)"
    git clone -q --depth 1 --branch "v$qt_version" "https://code.qt.io/qt/$module.git" "$cache/src/$module" \
      || die "cannot clone $module: set ORVANT_QT_SOURCES to a folder holding qtserialport/ and qtsvg/ at tag v$qt_version"
  fi
done
module_src() { echo "${ORVANT_QT_SOURCES:-$cache/src}/$1"; }

# The host's Qt of the same version supplies moc, rcc, uic and the other build tools.
# Both the CMake package of the host's Qt and its tools must be there, at the same version.
host_info="$(ls /usr/lib/*/cmake/Qt6HostInfo/Qt6HostInfoConfig.cmake 2>/dev/null | head -1 || true)"
[ -n "$host_info" ] && [ -x /usr/lib/qt6/libexec/moc ] && [ -x /usr/lib/qt6/libexec/rcc ] \
  || die "no host Qt build tools: install qt6-base-dev and qt6-base-dev-tools"
host_cmake="$(dirname "$(dirname "$host_info")")"
host_version="$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$host_cmake/Qt6/Qt6ConfigVersionImpl.cmake" \
                "$host_cmake/Qt6/Qt6ConfigVersion.cmake" 2>/dev/null | head -1)"
[ "$host_version" = "$qt_version" ] \
  || die "the host's Qt is ${host_version:-of unknown version}, not $qt_version: its build tools cannot serve"
echo "== Building qtbase $qt_version for Windows in $cache/build-qtbase (takes a while)"
rm -rf "$cache/build-qtbase" "$prefix"
cmake -S "$qtbase_src" -B "$cache/build-qtbase" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" "${qtbase_options[@]}" \
  >"$cache/qtbase-configure.log" 2>&1 \
  || { tail -40 "$cache/qtbase-configure.log"; die "qtbase configure failed (log: $cache/qtbase-configure.log)"; }
cmake --build "$cache/build-qtbase" -j "$jobs"
cmake --install "$cache/build-qtbase" >/dev/null

for module in "${modules[@]}"; do
  echo "== Building $module $qt_version for Windows"
  rm -rf "$cache/build-$module"
  "$prefix/bin/qt-cmake" -S "$(module_src $module)" -B "$cache/build-$module" -G Ninja \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    >"$cache/$module-configure.log" 2>&1 \
    || { tail -40 "$cache/$module-configure.log"; die "$module configure failed"; }
  cmake --build "$cache/build-$module" -j "$jobs"
  cmake --install "$cache/build-$module" >/dev/null
done

configuration > "$record"
echo "$qt_version built in $(( $(date +%s) - start )) s" > "$prefix/.complete"
echo "== Qt $qt_version for Windows built in $(( $(date +%s) - start )) s into $prefix"
