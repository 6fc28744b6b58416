# Shared by the end-to-end tests (sourced): a private Xvfb, openbox, the checks and a work folder
# removed at the end. Waits for the server, the window manager and windows by their events
# (xwait, tests/gadget/xwait.cpp), with generous limits: the first start of openbox on a fresh
# system builds its font caches and takes long. Set `xwait` to its path before sourcing.
limit=${E2E_LIMIT:-180}  # seconds for the server, the window manager and each window to come

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
pixel() { # pixel X Y: the screen colour as RRGGBB
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
    sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tail -n 1
}

start_xvfb() { # a 1280 x 1024 screen; Xvfb picks a free display and says which once it is ready
  mkfifo "$work/displayfd"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset -br 3>"$work/displayfd" \
    >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  local n=""
  read -r -t "$limit" n <"$work/displayfd"
  [ -n "$n" ] || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
  export DISPLAY=":$n"
}

start_openbox() { # returns once openbox takes new windows (a home of its own for its caches)
  HOME="$work/home" openbox --sm-disable >"$work/openbox.log" 2>&1 &
  pids+=($!)
  "$xwait" wm "$limit" || { cat "$work/openbox.log"; fail "openbox did not start"; }
}
