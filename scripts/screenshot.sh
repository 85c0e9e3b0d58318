#!/usr/bin/env bash
# Screenshot of the main window on a virtual X display.
# Usage: screenshot.sh FOLDER OUT.png [--menu | --scan | --filter=PATTERN | --select | --catalog |
#        --compare]
#   FOLDER   the folder the program lists at start
#   OUT.png  the picture to write (the screen trimmed to the windows shown)
#   --menu   also open the list's pop-up menu (right click on the list) before the shot
#   --scan   tick "Browse subfolders" and take the shot while that refresh runs (a large FOLDER
#            keeps it running long enough: bench/make_tree.py makes one)
#   --filter=PATTERN  open the filter box (Ctrl+F) and type PATTERN into it
#   --select the list's first row clicked, then the fifth with Shift: the foot strip's totals of
#            a selection
#   --catalog  open the catalogue window (Ctrl+K) on the default catalogue ($XDG_DATA_HOME) and
#            show its first volume's latest snapshot, or search for $SHOT_SEARCH when set
#   --compare  the same, then compare that snapshot with FOLDER as it is now (Compare...)
# Environment: TREELAN (program, default build/bin/treelan), SHOT_SIZE (screen, default
# 1024x768), SHOT_DELAY (seconds to let the window draw, default 1).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$here/install-deps.sh" shots

usage() { echo "usage: $0 FOLDER OUT.png [--menu | --scan | --filter=PATTERN | --select | --catalog | --compare]" >&2; exit 2; }
[ $# -ge 2 ] && [ $# -le 3 ] || usage
folder="$1"
out="$2"
menu=0
scan=0
filter=""
select=0
catalog=0
if [ $# -eq 3 ]; then
    case "$3" in
        --menu) menu=1 ;;
        --scan) scan=1 ;;
        --filter=?*) filter="${3#--filter=}" ;;
        --select) select=1 ;;
        --catalog) catalog=1 ;;
        --compare) catalog=2 ;;
        *) usage ;;
    esac
fi
[ -d "$folder" ] || { echo "$0: $folder: not a folder" >&2; exit 2; }
program="${TREELAN:-$here/../build/bin/treelan}"
[ -x "$program" ] || { echo "$0: $program: no such program (build it first)" >&2; exit 2; }
size="${SHOT_SIZE:-1024x768}"
delay="${SHOT_DELAY:-1}"

xvfb_pid=""
app_pid=""
runtime="$(mktemp -d)"
cleanup() {
    local status=$?
    set +e # a killed process reports failure; go on cleaning up
    # Only the two processes started here, the program first.
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

# A display number nobody uses, from 99 up.
display=99
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp -br >"$runtime/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 1 100); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$runtime/xvfb.log" >&2; exit 1; }
    sleep 0.1
done

chmod 700 "$runtime"
XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb "$program" "$folder" >"$runtime/app.log" 2>&1 &
app_pid=$!

# The program's first visible top-level window.
window=""
for _ in $(seq 1 150); do
    window="$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    kill -0 "$app_pid" 2>/dev/null || { echo "$0: the program ended early:" >&2; cat "$runtime/app.log" >&2; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "$0: no window appeared" >&2; exit 1; }
# Without a window manager the window may sit anywhere; put it in the corner.
xdotool windowmove "$window" 0 0
sleep "$delay"

if [ "$menu" -eq 1 ]; then
    # The list fills the window between the path box and the check boxes; 40 % across and
    # down lies inside it at any window size the program allows.
    read -r width height < <(xdotool getwindowgeometry --shell "$window" |
        awk -F= '/^WIDTH/{w=$2} /^HEIGHT/{h=$2} END{print w, h}')
    xdotool mousemove --window "$window" $((width * 2 / 5)) $((height * 2 / 5)) click 3
    sleep "$delay"
fi

if [ "$scan" -eq 1 ]; then
    # "Browse subfolders" is the third check box from the foot: its box lies 20 pixels in
    # from the left and 68 up from the bottom of the window at 96 dots per inch.
    read -r height < <(xdotool getwindowgeometry --shell "$window" | awk -F= '/^HEIGHT/{print $2}')
    xdotool mousemove --window "$window" 20 $((height - 68)) click 1
    sleep "${SCAN_DELAY:-1.5}"
fi

if [ -n "$filter" ]; then
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --window "$window" ctrl+f
    xdotool type --window "$window" --delay 100 "$filter"
    sleep "$delay"
fi

if [ "$select" -eq 1 ]; then
    # The list's rows begin under its header, 56 + 22 pixels down at 96 dots per inch; rows are
    # about 17 pixels apart.
    xdotool mousemove --window "$window" 60 84 click 1
    xdotool keydown shift mousemove --window "$window" 60 152 click 1 keyup shift
    sleep "$delay"
fi

# A top-level window of the program whose title holds $1.
window_named() {
    local w
    for _ in $(seq 1 150); do
        w="$(xdotool search --all --onlyvisible --pid "$app_pid" --name "$1" 2>/dev/null | head -n 1 || true)"
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    echo "$0: no window titled '$1' appeared" >&2
    return 1
}

if [ "$catalog" -ge 1 ]; then
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key ctrl+k
    catalog_window="$(window_named Catalogue)"
    xdotool windowmove "$catalog_window" 40 40
    sleep "$delay"
    # A click into the search box gives it the keyboard, without a window manager too.
    xdotool mousemove --window "$catalog_window" 200 21 click 1
    if [ -n "${SHOT_SEARCH:-}" ] && [ "$catalog" -eq 1 ]; then
        xdotool type --delay 20 "$SHOT_SEARCH"
        xdotool key Return
    else
        # From the search box to the volume tree; Down picks the first volume, which lists its
        # latest snapshot.
        xdotool key Tab Tab Tab Down
    fi
    sleep "$delay"
    if [ "$catalog" -eq 2 ]; then
        xdotool key alt+o
        compare_window="$(window_named Compare)"
        xdotool windowmove "$compare_window" 120 120
    fi
    sleep "$delay"
fi

import -window root -trim +repage "$out"
echo "$out"
