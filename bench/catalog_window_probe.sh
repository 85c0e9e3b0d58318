#!/usr/bin/env bash
# How long the catalogue window's event loop is blocked while a search fills its list, measured
# from outside the program on a real X window (Xvfb, not offscreen): ping-probe.py sends
# _NET_WM_PING to the catalogue window every 10 ms and times the replies, which Qt sends from its
# event loop. The window is opened with Ctrl+K and searched by typing, as a person would.
#
# Usage: catalog_window_probe.sh TREE PATTERN [RUNS] [SECONDS]
#   TREE     the folder catalogued (once, in WORK; bench/make_tree.py makes a large one)
#   PATTERN  what is typed into the search box ("file" finds every file of make_tree.py's tree),
#            or --compare: the first volume's two latest snapshots are compared instead
#   RUNS     default 3; SECONDS each probe runs, default 40
# Environment: TREELAN, TREELAN_CLI (programs, default build/bin/), WORK (the catalogue's home,
# default /tmp/treelan-catalog-probe), PROBE (default ../shared/tools/ping-probe.py beside the
# checkout's parent), SHOTS (a folder: a screenshot of the window after each run goes there),
# NICE (run the program and the probe at this nice value, e.g. -10 as root, so that other work on a
# shared machine delays them less and what is left is the program's own blocking).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -ge 2 ] && [ $# -le 4 ] || { echo "usage: $0 TREE PATTERN [RUNS] [SECONDS]" >&2; exit 2; }
tree="$(cd "$1" && pwd)"
pattern="$2"
runs="${3:-3}"
seconds="${4:-40}"
program="${TREELAN:-$here/../build/bin/treelan}"
cli="${TREELAN_CLI:-$here/../build/bin/treelan-cli}"
probe="${PROBE:-$here/../../shared/tools/ping-probe.py}"
work="${WORK:-/tmp/treelan-catalog-probe}"
for p in "$program" "$cli"; do
    [ -x "$p" ] || { echo "$0: $p: no such program (build it first)" >&2; exit 2; }
done
[ -r "$probe" ] || { echo "$0: $probe: the probe is missing" >&2; exit 2; }
/usr/bin/python3 -c 'import Xlib' 2>/dev/null ||
    { echo "$0: the probe needs python3-xlib (apt-get install python3-xlib)" >&2; exit 2; }

# The catalogue at the place the window opens by default.
export XDG_DATA_HOME="$work/data"
if [ ! -s "$XDG_DATA_HOME/treelan/catalog.db" ]; then
    echo "cataloguing $tree ..."
    /usr/bin/time -f "catalog add: %e s, %M KiB" "$cli" catalog add -q "$tree" --label probe
fi
"$cli" catalog list

xvfb_pid=""
app_pid=""
runtime="$(mktemp -d)"
cleanup() {
    local status=$?
    set +e
    for pid in "$app_pid" "$xvfb_pid"; do
        if [ -n "$pid" ]; then
            kill "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        fi
    done
    rm -rf "$runtime"
    exit "$status"
}
trap cleanup EXIT
chmod 700 "$runtime"

display=99
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
    display=$((display + 1))
done
nice -n "${NICE:-0}" Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp -br >"$runtime/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 1 100); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done

# The window of the program whose title holds $1.
window_named() {
    local w
    for _ in $(seq 1 200); do
        w="$(xdotool search --all --onlyvisible --pid "$app_pid" --name "$1" 2>/dev/null | head -n 1 || true)"
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}

worst_all=0
for run in $(seq 1 "$runs"); do
    XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb nice -n "${NICE:-0}" "$program" "$tree" \
        >"$runtime/app.log" 2>&1 &
    app_pid=$!
    main="$(window_named Treelan || window_named "")" || { cat "$runtime/app.log" >&2; exit 1; }
    xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
    sleep 1
    xdotool key ctrl+k
    catalog="$(window_named Catalogue)" || { echo "$0: no catalogue window" >&2; exit 1; }
    xdotool windowmove "$catalog" 0 0
    sleep 1
    echo "run $run: pinging $(xdotool getwindowname "$catalog") ($catalog)"
    # A click into the search box gives it the keyboard, without a window manager too.
    xdotool mousemove --window "$catalog" 200 21 click 1
    sleep 0.5
    nice -n "${NICE:-0}" /usr/bin/python3 "$probe" "$catalog" "$seconds" 10 >"$runtime/probe.txt" &
    probe_pid=$!
    sleep 0.5
    if [ "$pattern" = "--compare" ]; then
        # The first volume's two latest snapshots, then Compare...
        xdotool key Tab Tab Tab Down shift+Down alt+o
    else
        xdotool type --delay 30 "$pattern"
        xdotool key Return
    fi
    wait "$probe_pid"
    echo "run $run: $(tail -n 1 "$runtime/probe.txt")"
    sed '$d' "$runtime/probe.txt"
    worst="$(sed -n 's/.*worst \([0-9.]*\) ms.*/\1/p' "$runtime/probe.txt")"
    worst_all="$(/usr/bin/python3 -c "print(max($worst_all, ${worst:-0}))")"
    if [ -n "${SHOTS:-}" ]; then
        mkdir -p "$SHOTS"
        import -window "$catalog" "$SHOTS/probe-run$run.png"
    fi
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
done
echo "worst of $runs runs: $worst_all ms"
