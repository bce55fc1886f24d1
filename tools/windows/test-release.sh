#!/usr/bin/env bash
# Tries the Windows release under wine on a virtual display (Xvfb):
#   - orvant-flash.exe --version, --help, --list-ports and --check: output and exit status;
#   - each window starts, shows its controls (a screenshot goes to docs/) and closes cleanly
#     when Windows asks it to (WM_CLOSE), with its settings file at C:\ read and saved there;
#   - with a read-only settings file at C:\, the window reads it and saves in the user's
#     application-data folder, leaving the file at C:\ as it was;
#   - the installer installs silently, the installed programs start and close, and the
#     uninstaller removes what was installed (support files the user added stay);
#   - a board is programmed: targetsim plays it on a pseudo-terminal on the Linux side,
#     ser2net serves that line on a loopback TCP port in RFC 2217 mode, and orvant-flash.exe
#     (then a window, its Program button clicked) downloads to rfc2217://127.0.0.1:PORT;
#     targetsim's flash must then equal the code file. Wine's own COM ports cannot serve:
#     they never report arriving bytes to a program that waits for them the way Qt
#     SerialPort does.
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
sim_pid=""; ser2net_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" $sim_pid $ser2net_pid 2>/dev/null || true
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
  local exe="$1" shot="$2"
  open_window "$exe" || return 1
  [ -z "$shot" ] || import -window "$window_id" "$shot"
  close_window "$exe"
}

# Starts a window program and waits until its window is up and painted: $program_pid is
# the program, $window_id its X window.
open_window() { # program.exe
  local exe="$1" program
  program="$(basename "$exe")"
  window_id=""
  wine "$exe" >"$work/$program.log" 2>&1 &
  program_pid=$!
  for _ in $(seq 1 120); do
    window_id="$(xwininfo -root -tree 2>/dev/null | grep "\"$caption\"" | awk '{print $1}' | head -1)"
    [ -n "$window_id" ] && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.5
  done
  if [ -z "$window_id" ]; then
    echo "      no window from $program:"; tail -5 "$work/$program.log"
    kill "$program_pid" 2>/dev/null || true
    return 1
  fi
  sleep 3   # until it has painted
}

# Closes the window open_window started as Windows does (WM_CLOSE) and waits for the
# program to end with status 0.
close_window() { # program.exe
  local program status=0
  program="$(basename "$1")"
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

echo "== Programming a board through rfc2217://127.0.0.1:PORT (ser2net, targetsim)"
# targetsim is a Linux program: built here from the same sources.
linux="$out/linux"
{ cmake -S "$source_dir" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    && cmake --build "$linux" --target targetsim; } >"$work/linux-build.log" 2>&1 \
  || { tail -20 "$work/linux-build.log"; echo "test-release: cannot build targetsim" >&2; exit 1; }
targetsim="$linux/targetsim/targetsim"
samples="$work/samples"
"$targetsim" --write-samples "$samples" --code-name board.hex >/dev/null
board_code="$(winepath -w "$samples/board.hex")"

# The code file's words at their addresses, as targetsim's --flash-out lists them.
expected_flash() { # code file
  tr -d '\r' <"$1" | awk -f "$source_dir/tools/codewords.awk" | sort
}
expected_flash "$samples/board.hex" >"$work/expected.flash"

# Starts targetsim for one download on a pseudo-terminal, and ser2net serving that line in
# RFC 2217 mode on a free loopback port: $net_port. The board's flash goes to $work/NAME.flash.
serve_board() { # name
  local name="$1"
  rm -f "$work/$name.flash" "$work/$name.tty"
  "$targetsim" --downloads 1 --timeout 300 --link "$work/$name.tty" \
    --flash-out "$work/$name.flash" >"$work/$name.targetsim" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 100); do [ -e "$work/$name.tty" ] && break; sleep 0.1; done
  net_port=20417
  while [ -n "$(ss -Hltn "sport = :$net_port")" ]; do net_port=$((net_port + 1)); done
  cat >"$work/$name.yaml" <<YAML
connection: &board
  accepter: telnet(rfc2217),tcp,127.0.0.1,$net_port
  connector: serialdev,$work/$name.tty,38400n81,local
YAML
  ser2net -n -u -P "$work/$name.ser2net.pid" -c "$work/$name.yaml" >"$work/$name.ser2net" 2>&1 &
  ser2net_pid=$!
  for _ in $(seq 1 100); do
    [ -n "$(ss -Hltn "sport = :$net_port")" ] && break
    kill -0 "$ser2net_pid" 2>/dev/null || break
    sleep 0.1
  done
}

# Waits up to SECONDS for a process of this script to end, then stops it (TERM, then KILL);
# succeeds when it ended by itself with status 0.
end_process() { # pid, seconds
  local pid="$1" status=0 ended=0
  for _ in $(seq 1 $(($2 * 2))); do kill -0 "$pid" 2>/dev/null || { ended=1; break; }; sleep 0.5; done
  if [ "$ended" -eq 0 ]; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 10); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || status=$?
  [ "$ended" -eq 1 ] && [ "$status" -eq 0 ]
}

# Once the host program has ended, targetsim ends its download within its quiet period;
# then ser2net is stopped. Succeeds when targetsim ended with status 0 and the flash it
# reports equals the code file.
board_programmed() { # name
  local name="$1" status=0
  end_process "$sim_pid" 20 || status=1
  end_process "$ser2net_pid" 0 || true
  sim_pid=""; ser2net_pid=""
  sed 's/^/      /' "$work/$name.targetsim"
  [ "$status" -eq 0 ] && [ -s "$work/$name.flash" ] \
    && cmp -s "$work/expected.flash" <(sort "$work/$name.flash")
}

serve_board cli
flash -q -s "$(winepath -w "$samples")" -p "rfc2217://127.0.0.1:$net_port" "$board_code"
check "orvant-flash.exe -p rfc2217://127.0.0.1:$net_port: status 0, programmed" \
  flash_ok 0 ": programmed, "
sed 's/^/      /' "$work/flash.txt"
check "targetsim's flash equals the code file" board_programmed cli

# The window reads the support files from its own folder, and the code file and the port
# from C:\ZizUdederAdev.cfg; Program is clicked as an operator would.
cp "$samples"/krnl24xx.hex "$samples"/clr24_x1.hex "$samples"/era24_x1.hex "$samples"/prg24_x1.hex "$app/"
serve_board window
printf '"%s"\r\n"rfc2217://127.0.0.1:%s"\r\n' "$board_code" "$net_port" >"$cdrive/ZizUdederAdev.cfg"
window_download() {
  open_window "$app/OrvantBootLoader.exe" || return 1
  # The middle of the Program button, which the window places at (168, 304), 137 by 65.
  xdotool mousemove --window "$window_id" 236 336 click 1
  # The download ends when targetsim has served it (or given up on it by its timeout).
  for _ in $(seq 1 240); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.5; done
  sleep 1   # the window shows the end of the download
  import -window "$window_id" "$work/window-download.png" || true
  close_window "$app/OrvantBootLoader.exe"
}
check "OrvantBootLoader.exe, Program clicked: the download ends and the window closes with status 0" \
  window_download
check "targetsim's flash equals the code file" board_programmed window
rm -f "$cdrive/ZizUdederAdev.cfg" "$app"/*.hex

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
