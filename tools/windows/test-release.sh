#!/usr/bin/env bash
# Tries the Windows release under wine on a virtual display (Xvfb):
#   - orvant-flash.exe --version, --help, --list-ports and --check: output and exit status;
#   - each window starts, shows its controls (a screenshot goes to docs/) and closes cleanly
#     when Windows asks it to (WM_CLOSE), with its settings file at C:\ read and saved there;
#   - with a read-only settings file at C:\, the window reads it and saves in the user's
#     application-data folder, leaving the file at C:\ as it was;
#   - the installer installs silently, the installed programs start and close, and the
#     uninstaller removes what was installed (support files the user added stay).
# A download cannot run under wine (its serial port never reports arriving bytes to a
# program that waits for them the way Qt SerialPort does), so none is tried.
#
#   tools/windows/test-release.sh [build folder]      (default: build-windows/)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
out="$(cd "${1:-$source_dir/build-windows}" && pwd)"
zip="$(ls "$out"/OrvantBootLoader-*-windows-x64.zip | head -1)"
setup="${zip%.zip}-setup.exe"
name="$(basename "${zip%.zip}")"
version="${name#OrvantBootLoader-}"; version="${version%-windows-x64}"
caption="Orvant Automation Serial Flash Download Utility for LF240X"

work="$out/wine-test"
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=":$display"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT

echo "== Setting up a wine prefix in $WINEPREFIX"
wineboot -i >"$work/wineboot.log" 2>&1
wineserver -w
unzip -q "$zip" -d "$work"
app="$work/$name"
cdrive="$WINEPREFIX/drive_c"
appdata="$(winepath -u "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')")"
appdata="${appdata%/}"

failures=0
check() { # description, then a command that must succeed
  local what="$1"; shift
  if "$@"; then echo "   ok    $what"; else echo "   FAIL  $what"; failures=$((failures + 1)); fi
}

# Runs orvant-flash.exe with the arguments; its output goes to $work/flash.out, its status
# to $flash_status.
flash() {
  flash_status=0
  wine "$app/orvant-flash.exe" "$@" >"$work/flash.out" 2>&1 </dev/null || flash_status=$?
  tr -d '\r' <"$work/flash.out" >"$work/flash.txt"
}

# A boot-table file: first word, one segment (length, destination, skipped line, words),
# then the 0 and the closing line, CR LF line ends.
boot_table() { # file, destination, words...
  local file="$1" destination="$2"; shift 2
  { printf '10AA\r\n%04X\r\n%s\r\n0000\r\n' "$#" "$destination"
    printf '%s\r\n' "$@"
    printf '0000\r\n0000\r\n'; } >"$file"
}

flash_ok() { # status, a line the output must hold
  [ "$flash_status" -eq "$1" ] && grep -q -- "$2" "$work/flash.txt"
}

echo "== orvant-flash.exe"
flash --version
check "--version prints \"orvant-flash $version\", status 0" flash_ok 0 "^orvant-flash $version\$"
flash --help
check "--help prints the whole help, status 0" flash_ok 0 "^Exit status:"
flash --list-ports
check "--list-ports, status 0 ($(wc -l <"$work/flash.txt") ports listed)" test "$flash_status" -eq 0
sed 's/^/      /' "$work/flash.txt"
flash --bogus
check "an unknown option is a usage error, status 1" test "$flash_status" -eq 1

mkdir -p "$work/code"
boot_table "$work/code/drive.hex" 0040 1111 2222 3333 4444
code="$(winepath -w "$work/code/drive.hex")"
flash --check "$code"
check "--check without the support files beside the program: status 2" flash_ok 2 "krnl24xx.hex"
sed -n '1,3s/^/      /p' "$work/flash.txt"
boot_table "$app/krnl24xx.hex" 8000 0001 0002 0003
boot_table "$app/clr24_x1.hex" 8400 0004 0005
boot_table "$app/era24_x1.hex" 8800 0006 0007
boot_table "$app/prg24_x1.hex" 8C00 0008 0009
flash --check "$code"
check "--check with the support files beside the program: the block table, status 0" \
  flash_ok 0 "^total: 5 blocks"
sed 's/^/      /' "$work/flash.txt"
rm -f "$app"/*.hex

# Starts a window program, waits for its window, takes a screenshot if asked, closes it as
# Windows does (WM_CLOSE, from taskkill without /f) and waits for it to end. Succeeds when
# the window came up and the program ended with status 0.
run_window() { # program.exe, screenshot file or ""
  local exe="$1" shot="$2" program status=0 id=""
  program="$(basename "$exe")"
  wine "$exe" >"$work/$program.log" 2>&1 &
  program_pid=$!
  for _ in $(seq 1 120); do
    id="$(xwininfo -root -tree 2>/dev/null | grep "\"$caption\"" | awk '{print $1}' | head -1)"
    [ -n "$id" ] && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.5
  done
  if [ -z "$id" ]; then
    echo "      no window from $program:"; tail -5 "$work/$program.log"
    kill "$program_pid" 2>/dev/null || true
    return 1
  fi
  sleep 3   # until it has painted
  [ -z "$shot" ] || import -window "$id" "$shot"
  wine taskkill /im "$program" >/dev/null 2>&1 || true
  for _ in $(seq 1 40); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.5
  done
  if kill -0 "$program_pid" 2>/dev/null; then
    echo "      $program did not end after WM_CLOSE"; kill "$program_pid"; return 1
  fi
  wait "$program_pid" || status=$?
  [ "$status" -eq 0 ] || { echo "      $program ended with status $status"; return 1; }
}

same_bytes() { cmp -s "$1" "$2"; }
no_file() { [ ! -e "$1" ]; }

# A settings file at C:\ as another program may have left it (LF line ends); the windows
# read it and save it in their own form (CR LF), which shows the values were read. Its
# ports, COM77 and COM78, have no device under wine (it maps COMn to /dev/ttyS(n-1)).
settings_for() { # program
  case "$1" in
    OrvantBootLoader11) printf '"C:\\work\\trox.hex"\n"C:\\work\\zla.hex"\n""\n"ZLA"\n"77"\n' ;;
    OrvantBootLoader) printf '"C:\\work\\drive.hex"\n"78"\n' ;;
  esac
}

for program in OrvantBootLoader11 OrvantBootLoader; do
  case "$program" in
    OrvantBootLoader11) cfg=ZizUdederAdev11.cfg; shot=windows-multidrive.png ;;
    OrvantBootLoader) cfg=ZizUdederAdev.cfg; shot=windows-singlefile.png ;;
  esac
  echo "== $program.exe"
  settings_for "$program" >"$work/$cfg.lf"
  sed 's/$/\r/' "$work/$cfg.lf" >"$work/$cfg.crlf"

  # C:\ can be written: the file there is read and saved in place.
  cp "$work/$cfg.lf" "$cdrive/$cfg"
  rm -rf "$appdata/$program"
  check "starts, shows its window (docs/$shot) and closes with status 0" \
    run_window "$app/$program.exe" "$source_dir/docs/$shot"
  check "C:\\$cfg read and saved in place" same_bytes "$cdrive/$cfg" "$work/$cfg.crlf"
  check "nothing in the application-data folder" no_file "$appdata/$program/$cfg"

  # C:\$cfg cannot be written (read-only): read, and saved in the application-data folder.
  cp "$work/$cfg.lf" "$cdrive/$cfg"
  chmod a-w "$cdrive/$cfg"
  check "with a read-only C:\\$cfg: starts and closes with status 0" \
    run_window "$app/$program.exe" ""
  check "its values saved to %APPDATA%\\$program\\$cfg" \
    same_bytes "$appdata/$program/$cfg" "$work/$cfg.crlf"
  check "C:\\$cfg left as it was" same_bytes "$cdrive/$cfg" "$work/$cfg.lf"
  chmod u+w "$cdrive/$cfg"
  rm -f "$cdrive/$cfg"
  rm -rf "$appdata/$program"
done

echo "== The installer"
installed="$cdrive/Program Files/Orvant BootLoader"
menu="$cdrive/ProgramData/Microsoft/Windows/Start Menu/Programs/Orvant BootLoader"
wine "$setup" /S >"$work/setup.log" 2>&1 || true
wineserver -w
check "installs silently (/S) into C:\\Program Files\\Orvant BootLoader" \
  test -f "$installed/OrvantBootLoader11.exe" -a -f "$installed/OrvantBootLoader.exe" \
       -a -f "$installed/orvant-flash.exe" -a -f "$installed/platforms/qwindows.dll"
check "Start-menu entries for both windows" \
  test -f "$menu/OrvantBootLoader11.lnk" -a -f "$menu/OrvantBootLoader.lnk"
# Ports the windows open are ones wine has no device for (see settings_for): under wine a
# port that opens blocks the program in Qt SerialPort's first wait for bytes, and a first
# start would open COM1, which wine maps to /dev/ttyS0.
settings_for OrvantBootLoader11 >"$cdrive/ZizUdederAdev11.cfg"
settings_for OrvantBootLoader >"$cdrive/ZizUdederAdev.cfg"
for program in OrvantBootLoader11 OrvantBootLoader; do
  check "installed $program.exe starts and closes with status 0" \
    run_window "$installed/$program.exe" ""
done
flash_app="$app"; app="$installed"
flash --version
check "installed orvant-flash.exe --version" flash_ok 0 "^orvant-flash $version\$"
app="$flash_app"
# A support file the user copied into the folder must survive the uninstaller.
boot_table "$installed/krnl24xx.hex" 8000 0001
wine "$installed/Uninstall.exe" /S >"$work/uninstall.log" 2>&1 || true
wineserver -w
check "the uninstaller removes the programs, the DLLs and the Start-menu entries" \
  test ! -e "$installed/OrvantBootLoader11.exe" -a ! -e "$installed/Qt6Core.dll" \
       -a ! -e "$installed/platforms" -a ! -e "$installed/Uninstall.exe" -a ! -e "$menu"
check "and leaves the support file the user added" \
  test "$(cd "$installed" && ls)" = "krnl24xx.hex"

echo "== zip $(stat -c %s "$zip") bytes, installer $(stat -c %s "$setup") bytes"
if [ "$failures" -ne 0 ]; then
  echo "== $failures check(s) failed"
  exit 1
fi
echo "== All checks passed"
