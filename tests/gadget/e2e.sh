#!/usr/bin/env bash
# End to end on a real X server: starts Xvfb, runs the gadget and drives it with xdotool, first
# without a window manager, then under openbox.
#   e2e.sh PATH/TO/protractor [PATH/TO/xwait]
# Waits for the server, the window manager and the windows by their events, with generous
# limits: the first start of openbox on a fresh system builds its font caches and takes long.
# xwait (tests/gadget/xwait.cpp) is taken from the second argument, else from beside the
# program, else from the search path.
set -uo pipefail
program=$(readlink -f "${1:?usage: e2e.sh PROGRAM [XWAIT]}")
[ -x "$program" ] || { echo "SKIP: $1 is not built"; exit 77; }
xwait=${2:-$(dirname "$program")/xwait}
[ -x "$xwait" ] || xwait=$(command -v xwait) || { echo "SKIP: xwait is not built"; exit 77; }
xwait=$(readlink -f "$xwait")
source "$(dirname "${BASH_SOURCE[0]}")/../common/e2e_session.sh"

region() { # region X Y W H: a checksum of a screen area
  import -window root -crop "${3}x${4}+$1+$2" -depth 8 rgb:- 2>/dev/null | md5sum | cut -c1-32
}
geometry() { # the window's position as "X Y"
  xdotool getwindowgeometry "$win" | sed -n 's/.*Position: \([-0-9]*\),\([-0-9]*\).*/\1 \2/p'
}
start() { # start [FOLDER]: runs the gadget from FOLDER (default: beside the build's libraries)
  (cd "$work" && exec "${1:-$program}") &
  gadget=$!
  pids+=("$gadget")
  win=$("$xwait" window Form1 "$limit" $managed) || fail "the gadget window did not appear"
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

# ---- Without a window manager.
managed=""
start
echo "info: resident memory after start-up: $(sed -n 's/^VmRSS:[[:space:]]*//p' "/proc/$gadget/status")"
check "window size" "251x249" "$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')"
check "centred position" "514 387" "$(geometry)"
# The corner lies outside the outline: the root window shows there; the dial's face is white.
check "root pixel outside the outline" 000000 "$(pixel 515 388)"
check "dial face inside the outline" FFFFFF "$(pixel $((514 + 60)) $((387 + 60)))"

# A drag on the dial moves the window with the pointer.
xdotool mousemove $((514 + 60)) $((387 + 60)) mousedown 1 sleep 0.1 mousemove $((514 + 90)) $((387 + 80)) \
  sleep 0.1 mousemove $((514 + 100)) $((387 + 100)) sleep 0.1 mouseup 1
sleep 0.4
check "position after the drag" "554 427" "$(geometry)"

# Ctrl held: a click on the right arrow moves the window 5 pixels; the pointer stays on it.
xdotool mousemove $((554 + 107)) $((427 + 142)) keydown ctrl sleep 0.1 click 1 sleep 0.1 keyup ctrl
sleep 0.4
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
check "the pointer picture leaves the face transparent" C0C0C0 "$(pixel $((559 + 60)) $((427 + 60)))"

# A right press on the dial switches to mask "C", which cuts the face away.
xdotool mousemove $((559 + 60)) $((427 + 60)) click 3
sleep 0.5
check "the face is cut away by mask C" 000000 "$(pixel $((559 + 60)) $((427 + 60)))"
check "the window stays where it was" "559 427" "$(geometry)"
quit

# ---- Under a window manager.
start_openbox
managed=managed
start
check "centred under the window manager" "514 387" "$(geometry)"
check "no frame: root pixel outside the outline" 000000 "$(pixel 515 388)"
xdotool mousemove $((514 + 60)) $((387 + 60)) mousedown 1 sleep 0.2 mousemove $((514 + 80)) $((387 + 70)) \
  sleep 0.2 mousemove $((514 + 120)) $((387 + 90)) sleep 0.2 mouseup 1
sleep 0.6
check "position after the window manager's move" "574 417" "$(geometry)"
# Stay on top, twice: the outline is present after each switch.
for state in on off; do
  xdotool mousemove $((574 + 90)) $((417 + 106)) click 1
  sleep 0.6
  above=$(xprop -id "$win" _NET_WM_STATE | grep -c ABOVE)
  check "stay-on-top $state" "$([ $state = on ] && echo 1 || echo 0)" "$above"
  check "outline after stay-on-top $state" 000000 "$(pixel 575 418)"
done

# A double-click on a label ends its move with the button: the window never stays on the pointer.
for i in $(seq 30); do
  xdotool mousemove $((574 + 126)) $((417 + 20)) click --repeat 2 --delay 60 1
  sleep 0.2
  xdotool mousemove_relative 40 30 sleep 0.2
  [ "$(geometry)" == "574 417" ] || fail "after double-click $i the window follows the pointer: $(geometry)"
done
echo "ok: 30 double-clicks on a label, no move after any"
quit

# The error box belongs to the gadget: without Vanes.dll a double-click on a label reports the
# missing picture; a click on the gadget then leaves the box above it.
if [ ! -f "$(dirname "$program")/Mantle.dll" ]; then
  echo "PASS (the error box is not tried: the program has no Mantle.dll beside it)"
  exit 0
fi
mkdir "$work/lone"
cp "$program" "$(dirname "$program")/Mantle.dll" "$work/lone/"
start "$work/lone/$(basename "$program")"
xdotool mousemove $((514 + 126)) $((387 + 20)) click --repeat 2 --delay 80 1
box=$("$xwait" window Project1 "$limit" managed) || fail "the error box did not appear"
check "the box is transient for the gadget" "$win" \
  "$(xprop -id "$box" WM_TRANSIENT_FOR | sed -n 's/.*# \(0x[0-9a-f]*\).*/\1/p' | xargs printf '%d')"
check "the box is modal" 1 "$(xprop -id "$box" _NET_WM_STATE | grep -c MODAL)"
xdotool mousemove $((514 + 60)) $((387 + 60)) click 1
sleep 0.6
top=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*, //; s/.*# //' | xargs printf '%d')
check "the box stays above the gadget after a click on the gadget" "$box" "$top"
xdotool key --window "$box" Return 2>/dev/null  # the release finds the box gone
sleep 0.5
# Alt+F4, the window manager's key, closes the gadget as its quit button does.
xdotool mousemove $((514 + 60)) $((387 + 60)) click 1 sleep 0.3 key alt+F4
for _ in $(seq 100); do kill -0 "$gadget" 2>/dev/null || break; sleep 0.1; done
kill -0 "$gadget" 2>/dev/null && fail "Alt+F4 did not end the program"
wait "$gadget"
check "exit status after Alt+F4" 0 $?
echo "PASS"
