#!/usr/bin/env bash
# What a person sees of the Windows build: the real progress window and the
# real message box, shown by tests/gui/window_probe_win32.cc under Wine on a
# virtual X display, photographed with ImageMagick and checked by pixels:
#   - the window's client area is 282 x 33 and holds the bar at 0,0, 281 x 33;
#   - the bar, at 3 of 10, is filled to 3/10 of its width, within two pixels;
#   - the message box shows the stop icon, the message and its cause, and
#     stays until Return is pressed; then the call returns;
#   - sales-archiver.exe itself, launched as the host launches it with a
#     `fifo` that cannot work (two lines only, a drive that does not exist,
#     a UNC path to no server, a settings file that is not there), shows its
#     box with the cause under the message, read from the box by the probe,
#     and ends with exit status 1 once Return is pressed.
# Usage: tests/gui/check-windows.sh WINDOWS-BUILD-DIR [PICTURES-DIR]
# Needs WINEPREFIX set to a prepared prefix; writes windows-progress-window.png,
# windows-message-box.png and windows-box-*.png (the program's own boxes)
# into PICTURES-DIR (default: WINDOWS-BUILD-DIR/pictures).
# WINE names how a program is started (default /usr/lib/wine/wine64; a command
# of several words, such as `tests/wine/wine10.sh win32`, which keeps its own
# prefix), WINESERVER its server (default: the wineserver beside WINE).
# WINE_SESSION names a command taking `start` and `stop` that keeps that Wine's
# servers up (such as `tests/wine/wine10.sh`): started once the display is
# there, so that a program and the probe reading its box run side by side.
set -euo pipefail
build=$(cd "$1" && pwd)
pictures=${2:-$build/pictures}
mkdir -p "$pictures"
[ -n "${WINE:-}" ] || : "${WINEPREFIX:?set WINEPREFIX to a prepared Wine prefix}"
export WINEDEBUG=-all
read -ra wine <<<"${WINE:-/usr/lib/wine/wine64}"
read -ra wineserver <<<"${WINESERVER:-${wine[0]%/*}/wineserver}"
work=$(mktemp -d)
probe_pid=
xvfb_pid=
session_started=
read -ra session <<<"${WINE_SESSION:-}"
cleanup() {
  if [ -n "$probe_pid" ] && kill -0 "$probe_pid" 2>/dev/null; then kill "$probe_pid"; fi
  if [ -n "$session_started" ]; then "${session[@]}" stop || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}

# Waits up to 60 s for a line matching $2 in file $1.
wait_for_line() {
  for _ in $(seq 600); do
    if grep -q "$2" "$1" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  fail "no \"$2\" from the probe; it said: $(cat "$1")"
}

# Crops the window $2 out of the screenshot $1 into $3.
crop_window() {
  local x y w h
  eval "$(xwininfo -id "$2" | awk '/Absolute upper-left X/ { print "x=" $4 } /Absolute upper-left Y/ { print "y=" $4 }
    /Width:/ { print "w=" $2 } /Height:/ { print "h=" $2 }')"
  convert "$1" -crop "${w}x${h}+${x}+${y}" +repage "$3"
}

# The colours of a row of pixels of $1 from x=$2, y=$3, $4 pixels long, one a line.
row() {
  convert "$1" -crop "${4}x1+$2+$3" +repage txt:- | awk 'NR > 1 { print $3 }'
}
pixel() { row "$1" "$2" "$3" 1; }

# A display of our own. A Wine server started without one would keep the
# null display driver, so the server of this prefix must be gone first.
"${wineserver[@]}" -w 2>/dev/null || wineserver -w
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
if [ ${#session[@]} -gt 0 ]; then
  "${session[@]}" start
  session_started=1
fi
# Wine draws the frames itself: the pictures show the caption as Windows does.
"${wine[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null

echo "-- progress window at 3 of 10"
"${wine[@]}" "$build/window-probe.exe" progress 0 10 3 60 >"$work/progress.out" 2>&1 &
probe_pid=$!
wait_for_line "$work/progress.out" '^client '
read -r _ width height left top < <(grep '^client ' "$work/progress.out" | tr -d '\r')
[ "$width" = 282 ] && [ "$height" = 33 ] || fail "client area ${width} x ${height}, not 282 x 33"
sleep 1  # let the X server show what Wine drew
import -window root "$work/progress.png"
middle=$((top + 16))
border=$(pixel "$work/progress.png" "$left" "$middle")
right_border=$(pixel "$work/progress.png" $((left + 280)) "$middle")
beyond=$(pixel "$work/progress.png" $((left + 281)) "$middle")
top_edge=$(pixel "$work/progress.png" $((left + 140)) "$top")
bottom_edge=$(pixel "$work/progress.png" $((left + 140)) $((top + 32)))
[ "$right_border" = "$border" ] || fail "bar's right edge not at x=280 ($right_border vs $border)"
[ "$beyond" != "$border" ] || fail "bar wider than 281 pixels"
[ "$top_edge" = "$border" ] && [ "$bottom_edge" = "$border" ] || fail "bar not 33 pixels high"
fill=$(pixel "$work/progress.png" $((left + 2)) "$middle")
filled=$(row "$work/progress.png" $((left + 1)) "$middle" 279 | awk -v f="$fill" '$1 != f { exit } { n++ } END { print n + 0 }')
expected=$(awk 'BEGIN { printf "%.1f", 281 * 3 / 10 }')
echo "   client 282 x 33 at $left,$top; bar 281 x 33; filled $filled pixels, expected $expected"
awk -v a="$filled" -v b="$expected" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= 2) }' ||
  fail "filled $filled pixels, not within 2 of $expected"
convert "$work/progress.png" -crop "$((width + 40))x$((height + 60))+$((left - 20))+$((top - 40))" +repage \
  "$pictures/windows-progress-window.png"
kill "$probe_pid"
wait "$probe_pid" 2>/dev/null || true
probe_pid=

echo "-- message box"
message='Este programa sólo puede ser ejecutado desde Brelna+'
"${wine[@]}" "$build/window-probe.exe" message "$message" 'Cannot read file
Z:\datos\live.mdb: Access denied.' >"$work/message.out" 2>"$work/message.err" &
probe_pid=$!
wait_for_line "$work/message.out" '^reported'
grep -q '^icon' "$work/message.out" || fail "the box shows no icon: $(cat "$work/message.out")"
grep -qF "text $message" "$work/message.out" || fail "the box does not show the message: $(cat "$work/message.out")"
grep -qF "$message" "$work/message.err" || fail "the message is not on standard error"
grep -qF 'Z:\datos\live.mdb: Access denied.' "$work/message.out" ||
  fail "the box does not show the cause: $(cat "$work/message.out")"
box=$(xdotool search --name '^sales-archiver$' | head -1)
[ -n "$box" ] || fail "no window titled sales-archiver"
sleep 1
import -window root "$work/message.png"
crop_window "$work/message.png" "$box" "$pictures/windows-message-box.png"
# The stop icon is a red disc: a good number of strongly red pixels.
red=$(convert "$pictures/windows-message-box.png" txt:- | awk -F'[(),]' 'NR > 1 && $2 > 180 && $3 < 90 && $4 < 90 { n++ } END { print n + 0 }')
[ "$red" -gt 100 ] || fail "no stop icon in the picture ($red red pixels)"
grep -q '^closed' "$work/message.out" && fail "the box went away before Return was pressed"
kill -0 "$probe_pid" 2>/dev/null || fail "the probe ended while its box was up"
echo "   box with the stop icon ($red red pixels), the message and its cause; waiting for Return"
xdotool windowfocus --sync "$box" key Return
wait_for_line "$work/message.out" '^closed'
wait "$probe_pid" || fail "the probe failed"
probe_pid=
xdotool search --name '^sales-archiver$' >/dev/null && fail "the box is still there after Return"
echo "   Return closed it"

# The Windows name of a folder of this machine: drive Z: is the root.
windows_path() { local p="Z:$1"; echo "${p//\//\\}"; }

# Launches sales-archiver.exe as the host does, from a folder of its own
# holding the `fifo` text $2 (lines as given), and checks the box it shows:
# the stop icon, the message $3 and the cause $4 under it; photographed into
# windows-box-$1.png, closed with Return, exit status 1.
program_box() {
  local folder="$work/$1" status=0
  mkdir -p "$folder"
  cp "$build/sales-archiver.exe" "$folder/"
  printf '%s' "$2" >"$folder/fifo"
  "${wine[@]}" "$folder/sales-archiver.exe" >/dev/null 2>"$folder/err" &
  probe_pid=$!
  "${wine[@]}" "$build/window-probe.exe" read-box >"$folder/box" 2>&1
  grep -q '^reported' "$folder/box" || fail "$1: no box: $(cat "$folder/box" "$folder/err")"
  grep -q '^icon' "$folder/box" || fail "$1: the box shows no icon"
  grep -qF "text $3" "$folder/box" || fail "$1: the box does not say \"$3\": $(cat "$folder/box")"
  grep -qF "$4" "$folder/box" || fail "$1: the box does not say why (\"$4\"): $(cat "$folder/box")"
  local window
  window=$(xdotool search --name '^sales-archiver$' | head -1)
  sleep 1
  import -window root "$work/$1.png"
  crop_window "$work/$1.png" "$window" "$pictures/windows-box-$1.png"
  xdotool windowfocus --sync "$window" key Return
  wait "$probe_pid" || status=$?
  probe_pid=
  [ "$status" = 1 ] || fail "$1: exit status $status, not 1"
  echo "   $1: \"$3\" with \"$4\" under it; exit status 1 after Return"
}

echo "-- the program's own boxes say why"
started_here=$(windows_path "$work")
crlf() { printf '%s\r\n' "$@"; }
program_box short-fifo "$(crlf 'C:\datos\live.mdb' 'C:\datos\zizezivazer.ini')" \
  'Este programa sólo puede ser ejecutado desde Brelna+' 'fifo has 2 lines, 7 expected'
program_box no-drive "$(crlf 'Q:\datos\live.mdb' 'Q:\datos\zizezivazer.ini' procsiosi 0 N '' '')" \
  'Este programa sólo puede ser ejecutado desde Brelna+' 'Q:\datos: '
program_box unc "$(crlf '\\sin-servidor\tienda\live.mdb' 'C:\z.ini' procsiosi 0 N '' '')" \
  'Este programa sólo puede ser ejecutado desde Brelna+' '\\sin-servidor\tienda: '
program_box settings "$(crlf "$started_here\\live.mdb" "$started_here\\zizezivazer.ini" procsiosi 0 N '' '')" \
  'Error accediendo a zizezivazer.ini' "$started_here\\zizezivazer.ini: "
echo "pictures in $pictures"
