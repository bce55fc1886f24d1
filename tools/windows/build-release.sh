#!/usr/bin/env bash
# Builds the Windows release from Linux: the three programs cross-compiled against Qt for
# Windows (built once by build-qt.sh), a folder with them and every DLL and plugin they
# load, that folder as a zip, and an NSIS installer.
#
#   tools/windows/build-release.sh [build folder]     (default: build-windows/)
#
# The Qt build is cached in $ORVANT_WINDOWS_CACHE (default ~/.cache/orvant-windows).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
out="$(mkdir -p "${1:-$source_dir/build-windows}" && cd "${1:-$source_dir/build-windows}" && pwd)"
cache="${ORVANT_WINDOWS_CACHE:-$HOME/.cache/orvant-windows}"
triple=x86_64-w64-mingw32
jobs="$(nproc 2>/dev/null || echo 2)"

# What the build needs, and the Debian package that brings it (./run.sh windows installs them).
missing=()
for need in x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix cmake:cmake \
            ninja:ninja-build dpkg-source:dpkg-dev makensis:nsis zip:zip \
            /usr/lib/qt6/libexec/moc:qt6-base-dev-tools; do
  command -v "${need%%:*}" >/dev/null || missing+=("${need#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "build-release: missing ${missing[*]} (apt-get install ${missing[*]}, or ./run.sh windows)" >&2
  exit 1
fi

"$here/build-qt.sh" "$cache"
qt="$cache/qt"

echo "== Building the programs for Windows in $out/build"
"$qt/bin/qt-cmake" -S "$source_dir" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$here/mingw-toolchain.cmake" -DORVANT_WERROR=ON >/dev/null
cmake --build "$out/build" -j "$jobs"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/build/CMakeCache.txt")"
name="OrvantBootLoader-$version-windows-x64"
stage="$out/$name"
echo "== Gathering $name"
rm -rf "$stage" "$out/$name.zip" "$out/$name-setup.exe"
mkdir -p "$stage"
cp "$out/build/multidrive/OrvantBootLoader11.exe" "$out/build/singlefile/OrvantBootLoader.exe" \
   "$out/build/cli/orvant-flash.exe" "$stage/"
# The plugins Qt loads at run time, in the folders beside the programs where it looks.
for plugin in platforms/qwindows styles/qwindowsvistastyle imageformats/qsvg iconengines/qsvgicon; do
  mkdir -p "$stage/$(dirname "$plugin")"
  cp "$qt/plugins/$plugin.dll" "$stage/$plugin.dll"
done

# Every DLL the programs and plugins import, found among Qt's and the MinGW runtime's;
# anything not found there is part of Windows.
dll_folders=("$qt/bin" "$(dirname "$($triple-g++-posix -print-libgcc-file-name)")"
             "/usr/$triple/lib")
imports() { "$triple-objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
pending=("$stage"/*.exe "$stage"/*/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
  file="${pending[0]}"; pending=("${pending[@]:1}")
  for dll in $(imports "$file"); do
    [ -e "$stage/$dll" ] && continue
    for folder in "${dll_folders[@]}"; do
      if [ -f "$folder/$dll" ]; then
        cp "$folder/$dll" "$stage/$dll"
        pending+=("$stage/$dll")
        break
      fi
    done
  done
done
"$triple-strip" --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll
# The support files belong to the board's maker; the user copies them beside the programs.
sed 's/$/\r/' "$source_dir/packaging/support-files.txt" > "$stage/README.support-files.txt"

echo "== Packing $name.zip"
(cd "$out" && zip -q -r -9 "$name.zip" "$name")

echo "== Making the installer $name-setup.exe"
# The uninstaller removes exactly the files the installer put there, so support files the
# user copied into the folder stay.
{
  (cd "$stage" && find . -type f | sort) | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
  (cd "$stage" && find . -mindepth 1 -type d | sort -r) | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|'
} > "$out/uninstall-files.nsh"
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DFILELIST="$out/uninstall-files.nsh" \
  -DOUTFILE="$out/$name-setup.exe" "$source_dir/packaging/windows/orvant-bootloader.nsi"

echo "== Windows release:"
ls -l "$out/$name.zip" "$out/$name-setup.exe" | awk '{printf "   %s  %d bytes\n", $NF, $5}'
