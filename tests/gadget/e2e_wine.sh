#!/usr/bin/env bash
# End to end under wine on a real X server: starts Xvfb, runs the Windows gadget and drives it
# with xdotool, as e2e.sh does for the X11 build (no window manager). WINEPREFIX names a prefix
# made before (CTest's wine_prefix test makes it).
#   e2e_wine.sh WINE PATH/TO/protractor.exe PATH/TO/win32_msgbox.exe
set -uo pipefail
wine=${1:?usage: e2e_wine.sh WINE PROGRAM MSGBOX}
program=$(readlink -f "${2:?usage: e2e_wine.sh WINE PROGRAM MSGBOX}")
msgbox=$(readlink -f "${3:?usage: e2e_wine.sh WINE PROGRAM MSGBOX}")
[ -f "$program" ] || { echo "SKIP: $2 is not built"; exit 77; }
for tool in Xvfb xdotool import xdpyinfo "$wine"; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
export WINEDEBUG=-all

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }
check() { # check WHAT EXPECTED ACTUAL
  [ "$2" == "$3" ] || fail "$1: expected '$2', got '$3'"
  echo "ok: $1 ($3)"
}

# A free display number.
n=110
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n"
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp -noreset -br >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"

pixel() { # pixel X Y: the screen colour as RRGGBB
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
    sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tail -n 1
}
region() { # region X Y W H: a checksum of a screen area
  import -window root -crop "${3}x${4}+$1+$2" -depth 8 rgb:- 2>/dev/null | md5sum | cut -c1-32
}
geometry() { # the window's position as "X Y"
  xdotool getwindowgeometry "$win" | sed -n 's/.*Position: \([-0-9]*\),\([-0-9]*\).*/\1 \2/p'
}
start() { # start FOLDER: runs the program from that folder, the working directory too
  (cd "$1" && exec "$wine" "$1/protractor.exe") &
  gadget=$!
  pids+=("$gadget")
}
find_window() {
  win=$(timeout 60 xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
  [ -n "$win" ] || fail "the gadget window did not appear"
  sleep 0.5
}
quit() { # clicks the quit button and expects status 0
  read -r x y < <(geometry)
  xdotool mousemove $((x + 107)) $((y + 106)) click 1
  for _ in $(seq 100); do kill -0 "$gadget" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$gadget" 2>/dev/null && fail "the quit button did not end the program"
  wait "$gadget"
  check "exit status after quit" 0 $?
}

# The program folder: the gadget and its side libraries.
mkdir -p "$work/gadget" "$work/plain"
cp "$program" "$(dirname "$program")"/{Mantle.dll,Vanes.dll} "$work/gadget/"

start "$work/gadget"
find_window
check "window size" "251x249" "$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')"
check "centred position" "514 387" "$(geometry)"
# The corner lies outside the outline: the root window shows there; the dial's face is white.
check "root pixel outside the outline" 000000 "$(pixel 515 388)"
check "dial face inside the outline" FFFFFF "$(pixel $((514 + 60)) $((387 + 60)))"
# The program's own process is the largest of those that name it.
rss=0
for pid in $(pgrep -f "protractor.exe"); do
  kb=$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$pid/status" 2>/dev/null)
  [ -n "$kb" ] && [ "$kb" -gt "$rss" ] && rss=$kb
done
echo "info: resident memory after start-up: $rss kB"

# A drag on the dial moves the window with the pointer.
xdotool mousemove $((514 + 60)) $((387 + 60)) mousedown 1 sleep 0.1 mousemove $((514 + 90)) $((387 + 80)) \
  sleep 0.1 mousemove $((514 + 100)) $((387 + 100)) sleep 0.1 mouseup 1
sleep 0.5
check "position after the drag" "554 427" "$(geometry)"

# Ctrl held: a click on the right arrow moves the window 5 pixels; the pointer stays on it.
xdotool mousemove $((554 + 107)) $((427 + 142)) keydown ctrl sleep 0.1 click 1 sleep 0.1 keyup ctrl
sleep 0.5
check "position after Ctrl and the right arrow" "559 427" "$(geometry)"
check "pointer after the nudge" "x:$((559 + 108)) y:$((427 + 142))" \
  "$(xdotool getmouselocation | cut -d' ' -f1-2)"

# A double-click on the top edge area replaces the dial by a pointer picture.
before=$(region 559 427 249 249)
xdotool mousemove $((559 + 126)) $((427 + 20)) click --repeat 2 --delay 80 1
sleep 0.5
after=$(region 559 427 249 249)
[ "$before" != "$after" ] || fail "the double-click did not change the picture"
echo "ok: the double-click changed the picture"
quit

# Without Mantle.dll: the message names the missing mask, then a plain window opens.
cp "$program" "$(dirname "$program")/Vanes.dll" "$work/plain/"
start "$work/plain"
message=$(cd "$work" && "$wine" "$msgbox" Project1 2>/dev/null | tr -d '\r')
check "message without Mantle.dll" "Resource B not found" "$message"
find_window
check "plain window size" "536x348" "$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')"
check "plain window centred" "372 338" "$(geometry)"
check "no outline: the window's face beside the dial" C0C0C0 "$(pixel $((372 + 400)) $((338 + 300)))"
read -r x y < <(geometry)
xdotool mousemove $((x + 107)) $((y + 106)) click 1
for _ in $(seq 100); do kill -0 "$gadget" 2>/dev/null || break; sleep 0.1; done
kill -0 "$gadget" 2>/dev/null && fail "the quit button did not end the plain window"
echo "PASS"
