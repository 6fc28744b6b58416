#!/usr/bin/env bash
# End to end on a real X server: the gadget's ruler buttons start the rulers, which are driven
# with xdotool; first without a window manager, then a ruler under openbox.
#   e2e.sh BIN [PATH/TO/xwait]
# BIN holds protractor, its side libraries and the four rulers; xwait is taken from the second
# argument, else from BIN.
set -uo pipefail
bin=$(readlink -f "${1:?usage: e2e.sh BIN [XWAIT]}")
for program in protractor Plank1024.exe Plank800.exe Spire1024.exe Spire800.exe; do
  [ -x "$bin/$program" ] || { echo "SKIP: $program is not built"; exit 77; }
done
xwait=$(readlink -f "${2:-$bin/xwait}")
[ -x "$xwait" ] || { echo "SKIP: xwait is not built"; exit 77; }
source "$(dirname "${BASH_SOURCE[0]}")/../common/e2e_session.sh"

# Working folders for the gadget: one with all four rulers, one with only the 800-pixel ones.
mkdir -p "$work/all" "$work/short"
for ruler in Plank1024 Plank800 Spire1024 Spire800; do ln -s "$bin/$ruler.exe" "$work/all/"; done
for ruler in Plank800 Spire800; do ln -s "$bin/$ruler.exe" "$work/short/"; done

place() { # place WINDOW: its position and size as "X Y WxH"
  xdotool getwindowgeometry "$1" |
    sed -n 's/.*Position: \([-0-9]*\),\([-0-9]*\).*/\1 \2/p; s/.*Geometry: //p' | paste -sd' '
}
find_window() { # find_window NAME: the visible window of that name, waiting for it
  "$xwait" window "$1" "$limit" $managed
}
count() { # count NAME: how many visible windows have that name
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l
}
gone() { # gone NAME: waits until no window of that name is visible
  for _ in $(seq 50); do [ "$(count "$1")" -eq 0 ] && return 0; sleep 0.1; done
  return 1
}
cpu() { # cpu PID: the user and system clock ticks the process used
  awk '{print $14 + $15}' "/proc/$1/stat"
}

start_gadget() { # start_gadget FOLDER: the gadget runs with the folder as its working directory
  (cd "$1" && exec "$bin/protractor") &
  gadget=$!
  pids+=("$gadget")
  gwin=$(find_window Form1)
  [ -n "$gwin" ] || fail "the gadget window did not appear"
  sleep 0.5
  read -r gx gy _ < <(place "$gwin")
}
ruler_button() { # ruler_button 5|8: a click on the gadget's horizontal or vertical ruler button
  local dx=$([ "$1" = 5 ] && echo 145 || echo 162)
  xdotool mousemove $((gx + dx)) $((gy + 101)) click 1
}
quit_gadget() {
  xdotool mousemove $((gx + 107)) $((gy + 106)) click 1
  for _ in $(seq 50); do kill -0 "$gadget" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$gadget" 2>/dev/null && fail "the quit button did not end the gadget"
  wait "$gadget"
}
alive() { kill -0 "$gadget" 2>/dev/null && echo running || echo gone; }
opens() { # opens BUTTON NAME PLACE: the gadget's button opens the named ruler (win) there
  ruler_button "$1"
  win=$(find_window "$2")
  [ -n "$win" ] || fail "button $1 opened no $2"
  sleep 0.3
  check "$2 placed and sized" "$3" "$(place "$win")"
}
escape() { # escape NAME: Esc closes the named ruler and leaves the gadget running
  xdotool key Escape
  gone "$1" || fail "Esc did not close $1"
  check "the gadget after Esc on $1" running "$(alive)"
}

# ---- The gadget starts the 1024-pixel rulers when they are present.
managed=""
start_gadget "$work/all"
opens 5 Plank1024 "128 492 1024x40"
check "the zero end is red" FF0000 "$(pixel 128 512)"

# The marker follows the pointer across the whole thickness.
xdotool mousemove 428 512
sleep 0.3
check "marker under the pointer" 0000FF "$(pixel 428 524)"
xdotool mousemove 528 512
sleep 0.3
check "marker gone from where the pointer was" FFE880 "$(pixel 428 524)"
check "marker at the new place" 0000FF "$(pixel 528 524)"

# Arrow keys: 1 pixel, with Ctrl 5, with Ctrl+Shift 15.
xdotool key Right
sleep 0.2
check "Right" "129 492" "$(place "$win" | cut -d' ' -f1-2)"
xdotool key ctrl+Right
sleep 0.2
check "Ctrl+Right" "134 492" "$(place "$win" | cut -d' ' -f1-2)"
xdotool key ctrl+shift+Down
sleep 0.2
check "Ctrl+Shift+Down" "134 507" "$(place "$win" | cut -d' ' -f1-2)"

# R turns the reading direction round: the zero end goes to the right.
xdotool key r
sleep 0.3
check "zero end on the right after R" FF0000 "$(pixel $((134 + 1023)) 527)"
check "the left end is plain after R" 000000 "$(pixel 134 527)"

# A left drag moves it.
xdotool mousemove 734 527 mousedown 1 sleep 0.1 mousemove 754 547 sleep 0.1 mousemove 764 567 \
  sleep 0.1 mouseup 1
sleep 0.4
check "position after the drag" "164 547" "$(place "$win" | cut -d' ' -f1-2)"

# Each click is one more ruler; Esc closes the one that has the keyboard and leaves the gadget.
ruler_button 5
for _ in $(seq 50); do [ "$(count Plank1024)" -eq 2 ] && break; sleep 0.1; done
check "a second click opens a second ruler" 2 "$(count Plank1024)"
sleep 0.3
xdotool key Escape
for _ in $(seq 50); do [ "$(count Plank1024)" -eq 1 ] && break; sleep 0.1; done
check "Esc closed the newest ruler" 1 "$(count Plank1024)"
check "the gadget after Esc" running "$(alive)"
# The close mark ends the other.
xdotool mousemove $((164 + 1024 - 8)) $((547 + 32)) click 1
gone Plank1024 || fail "the close mark did not close the ruler"
echo "ok: the close mark closed the ruler"

opens 8 Spire1024 "620 0 40x1024"
xdotool mousemove 640 300
sleep 0.3
check "marker under the pointer on Spire" 0000FF "$(pixel 622 300)"
escape Spire1024
quit_gadget

# ---- With only the 800-pixel rulers present, the gadget starts those.
start_gadget "$work/short"
opens 5 Plank800 "240 492 800x40"
escape Plank800
opens 8 Spire800 "620 112 40x800"
escape Spire800
quit_gadget

# ---- A ruler on its own: no CPU while nothing moves; Q ends it with status 0.
"$bin/Plank800.exe" &
ruler=$!
pids+=("$ruler")
[ -n "$(find_window Plank800)" ] || fail "Plank800 did not start"
sleep 0.3
echo "info: resident memory of Plank800: $(sed -n 's/^VmRSS:[[:space:]]*//p' "/proc/$ruler/status")"
before=$(cpu "$ruler")
sleep 1
check "clock ticks used in a second of rest" "$before" "$(cpu "$ruler")"
xdotool key q
wait "$ruler"
check "exit status after Q" 0 $?

# ---- Under a window manager: no frame, stays on top, Esc ends it with status 0.
start_openbox
managed=managed
"$bin/Spire800.exe" &
ruler=$!
pids+=("$ruler")
win=$(find_window Spire800)
[ -n "$win" ] || fail "Spire800 did not start under the window manager"
sleep 0.5
check "Spire800 under the window manager" "620 112 40x800" "$(place "$win")"
check "stays on top" 1 "$(xprop -id "$win" _NET_WM_STATE | grep -c ABOVE)"
xdotool key Escape
wait "$ruler"
check "exit status after Esc" 0 $?
echo "PASS"
