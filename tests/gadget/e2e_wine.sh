#!/usr/bin/env bash
# End to end under wine on a real X server: starts Xvfb, runs the Windows gadget and drives it
# with xdotool, as e2e.sh does for the X11 build (no window manager). WINEPREFIX names a prefix
# made before (CTest's wine_prefix test makes it).
#   e2e_wine.sh WINE PATH/TO/protractor.exe PATH/TO/win32_msgbox.exe
# Waits for each window and for the effect of each action until it is there, up to a generous
# limit (E2E_LIMIT seconds): wine starts and answers slowly on a loaded machine.
set -uo pipefail
wine=${1:?usage: e2e_wine.sh WINE PROGRAM MSGBOX}
program=$(readlink -f "${2:?usage: e2e_wine.sh WINE PROGRAM MSGBOX}")
msgbox=$(readlink -f "${3:?usage: e2e_wine.sh WINE PROGRAM MSGBOX}")
[ -f "$program" ] || { echo "SKIP: $2 is not built"; exit 77; }
command -v "$wine" >/dev/null || { echo "SKIP: $wine is not installed"; exit 77; }
source "$(dirname "${BASH_SOURCE[0]}")/../common/e2e_session.sh"
export WINEDEBUG=-all

region() { # region X Y W H: a checksum of a screen area
  import -window root -crop "${3}x${4}+$1+$2" -depth 8 rgb:- 2>/dev/null | md5sum | cut -c1-32
}
geometry() { # the window's position as "X Y"
  xdotool getwindowgeometry "$win" | sed -n 's/.*Position: \([-0-9]*\),\([-0-9]*\).*/\1 \2/p'
}
size() { xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p'; }
pointer() { xdotool getmouselocation | cut -d' ' -f1-2; }
until_shown() { # until_shown WHAT EXPECTED COMMAND...: runs COMMAND until it prints EXPECTED
  local what=$1 expected=$2 actual end=$((SECONDS + limit))
  shift 2
  while actual=$("$@"); [ "$actual" != "$expected" ] && [ "$SECONDS" -lt "$end" ]; do sleep 0.05; done
  check "$what" "$expected" "$actual"
}
until_ended() { # until_ended WHAT: waits for the gadget's process to end
  local end=$((SECONDS + limit))
  while kill -0 "$gadget" 2>/dev/null && [ "$SECONDS" -lt "$end" ]; do sleep 0.05; done
  kill -0 "$gadget" 2>/dev/null && fail "$1 did not end the program"
  wait "$gadget"
  check "exit status after $1" 0 $?
}
start() { # start FOLDER: runs the program from that folder, the working directory too
  (cd "$1" && exec "$wine" "$1/protractor.exe") &
  gadget=$!
  pids+=("$gadget")
}
find_window() { # the visible window captioned Form1, drawn once its face has its colour
  win=$(timeout "$limit" xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
  [ -n "$win" ] || fail "the gadget window did not appear"
}
quit() { # clicks the quit button and expects status 0
  read -r x y < <(geometry)
  xdotool mousemove $((x + 107)) $((y + 106)) click 1
  until_ended "the quit button"
}

# The program folder: the gadget and its side libraries.
mkdir -p "$work/gadget" "$work/plain"
cp "$program" "$(dirname "$program")"/{Mantle.dll,Vanes.dll} "$work/gadget/"

start "$work/gadget"
find_window
check "window size" "251x249" "$(size)"
check "centred position" "514 387" "$(geometry)"
# The dial's face is white once the first frame is there; the corner lies outside the outline,
# where the root window shows.
until_shown "dial face inside the outline" FFFFFF pixel $((514 + 60)) $((387 + 60))
check "root pixel outside the outline" 000000 "$(pixel 515 388)"
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
until_shown "position after the drag" "554 427" geometry

# Ctrl held: a click on the right arrow moves the window 5 pixels; the pointer stays on it.
xdotool mousemove $((554 + 107)) $((427 + 142)) keydown ctrl sleep 0.1 click 1 sleep 0.1 keyup ctrl
until_shown "position after Ctrl and the right arrow" "559 427" geometry
until_shown "pointer after the nudge" "x:$((559 + 108)) y:$((427 + 142))" pointer

# A double-click on the top edge area replaces the dial by a pointer picture, which leaves the
# face transparent: the window's own colour shows there.
xdotool mousemove $((559 + 126)) $((427 + 20)) click --repeat 2 --delay 80 1
until_shown "the double-click changed the picture: the face" C0C0C0 pixel $((559 + 60)) $((427 + 60))
quit

# Without Mantle.dll: the message names the missing mask, then a plain window opens.
cp "$program" "$(dirname "$program")/Vanes.dll" "$work/plain/"
start "$work/plain"
message=$(cd "$work" && "$wine" "$msgbox" Project1 "$limit" 2>/dev/null | tr -d '\r')
check "message without Mantle.dll" "Resource B not found" "$message"
find_window
check "plain window size" "536x348" "$(size)"
check "plain window centred" "372 338" "$(geometry)"
until_shown "no outline: the window's face beside the dial" C0C0C0 pixel $((372 + 400)) $((338 + 300))
quit
echo "PASS"
