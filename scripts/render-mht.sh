#!/usr/bin/env bash
# Renders a web archive (.mht) in headless Chromium to a PNG, to see the page as a person would.
# Usage: render-mht.sh ARCHIVE.mht OUTPUT.png [WIDTH HEIGHT]
# Chromium is the Debian package "chromium". Its profile is a throw-away folder, removed afterwards.
set -euo pipefail
"$(dirname "$0")/install-deps.sh" render

if [ $# -lt 2 ]; then
    echo "usage: $0 ARCHIVE.mht OUTPUT.png [WIDTH HEIGHT]" >&2
    exit 2
fi
archive=$(realpath "$1")
output=$(realpath -m "$2")
width=${3:-1000}
height=${4:-800}

[ -f "$archive" ] || { echo "no such archive: $archive" >&2; exit 1; }

browser=""
for candidate in chromium chromium-browser google-chrome; do
    if command -v "$candidate" >/dev/null 2>&1; then
        browser=$candidate
        break
    fi
done
[ -n "$browser" ] || { echo "Chromium is missing: install the Debian package chromium" >&2; exit 1; }

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
rm -f "$output"

# Chromium writes the screenshot into its working folder when given a bare name; a full path
# avoids that. A time limit keeps a hung browser from holding a build.
timeout 120 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --hide-scrollbars \
    --screenshot="$output" --window-size="$width,$height" "file://$archive" \
    >"$profile/chromium.log" 2>&1 || {
    status=$?
    cat "$profile/chromium.log" >&2
    echo "Chromium failed (exit $status)" >&2
    exit 1
}

[ -s "$output" ] || { cat "$profile/chromium.log" >&2; echo "Chromium wrote no screenshot" >&2; exit 1; }
echo "wrote $output"
