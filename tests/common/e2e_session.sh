# The session of an end-to-end test on a private X server, sourced by the tests' scripts once
# they have found their programs and xwait (tests/gadget/xwait.cpp) in $xwait. Gives:
#   limit        seconds for the server, the window manager and each window to come
#                (E2E_LIMIT, default 180: the first start of openbox on a fresh system is slow)
#   work, pids   a temporary folder and the processes to end, both cleaned up on exit
#   fail, check  the verdicts; pixel X Y, the screen colour as RRGGBB
#   start_openbox  starts openbox and waits until it manages windows
# and exports DISPLAY for an Xvfb of 1280 x 1024 that picked a free display itself.
for tool in Xvfb xdotool import xprop; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
limit=${E2E_LIMIT:-180}

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

# Xvfb picks a free display itself and writes its number once it accepts connections.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset -br 3>"$work/displayfd" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t "$limit" n <"$work/displayfd"
[ -n "${n:-}" ] || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
export DISPLAY=":$n"

pixel() { # pixel X Y: the screen colour as RRGGBB
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
    sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tail -n 1
}

start_openbox() { # skips the rest (status 0) where openbox is not installed
  command -v openbox >/dev/null || { echo "SKIP: openbox is not installed"; exit 0; }
  # A home of its own: openbox writes its caches and session files there.
  HOME="$work/home" openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  "$xwait" wm "$limit" || { cat "$work/openbox.log"; fail "openbox did not start"; }
}
