#!/usr/bin/env bash
# Installs the Debian packages that a build needs and are missing. Usage: install-deps.sh [build|test|bench|shots|render]
set -euo pipefail
packages=(cmake g++ make qt6-base-dev libgl-dev)
case "${1:-build}" in
    test) packages+=(xsltproc libxml2-utils python3 nodejs) ;;
    bench) packages+=(tree findutils time) ;;
    # Screenshots of the window on a virtual display (scripts/screenshot.sh); desktop-file-utils
    # checks desktop/treelan.desktop.
    shots) packages+=(xvfb xauth xdotool imagemagick desktop-file-utils) ;;
    # Web archives rendered in headless Chromium (scripts/render-mht.sh).
    render) packages=(chromium) ;; # the browser alone: rendering builds nothing
esac
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
