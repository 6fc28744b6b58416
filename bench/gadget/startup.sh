#!/usr/bin/env bash
# Start to first frame of the gadget, the X11 build against the Windows build under wine, on
# Xvfb without a window manager: interleaved rounds, medians and their ratio, and the resident
# memory of each program after its first frame (under wine: the program's process; wineserver
# is reported apart). The wine prefix is made before the rounds.
#   startup.sh FIRST_FRAME X11_PROTRACTOR WINDOWS_PROTRACTOR.exe [ROUNDS]
set -euo pipefail
probe=${1:?usage: startup.sh FIRST_FRAME X11_PROTRACTOR WINDOWS_PROTRACTOR.exe [ROUNDS]}
x11=$(readlink -f "${2:?}")
win=$(readlink -f "${3:?}")
rounds=${4:-9}
wine=${WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$(dirname "$win")/../wineprefix}

source "$(dirname "${BASH_SOURCE[0]}")/../../tests/common/e2e_session.sh"
"$wine" wineboot -i >/dev/null 2>&1

# The dial's white face, 60 pixels into the centred window, is the first frame.
measure() { (cd "$(dirname "$1")" && "$probe" $((514 + 60)) $((387 + 60)) FFFFFF 60 "${@:2}" "$1") ; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
measure "$x11" >/dev/null
measure "$win" "$wine" >/dev/null  # the first run under wine loads its system libraries
: >"$work/x11" ; : >"$work/win"
for _ in $(seq "$rounds"); do
  measure "$x11" >>"$work/x11"
  measure "$win" "$wine" >>"$work/win"
  sleep 0.3
done
field() { sed -n "s/.*$1=\([0-9.-]*\).*/\1/p" "$2" | median; }
x11ms=$(field ms "$work/x11") winms=$(field ms "$work/win")
echo "start to first frame, median of $rounds: X11 $x11ms ms, wine $winms ms, ratio $(awk "BEGIN {printf \"%.2f\", $winms / $x11ms}")"
echo "resident memory after the first frame: X11 $(field rss_kb "$work/x11") kB, wine $(field rss_kb "$work/win") kB" \
  "(wineserver $(ps -o rss= -C wineserver | head -n 1 | tr -d ' ') kB)"
