#!/usr/bin/env bash
# Installs the Debian packages (and, for the tests, the npm packages) that a job needs and are missing.
# Usage: install-deps.sh GROUP...   with GROUP one of the names below; default: build.
# Runs as root, or as a user with sudo. Add a package to the group of the job that needs it.
set -euo pipefail
cd "$(dirname "$0")/.."

# What each job needs. A group may name other groups with "@".
declare -A group
# The catalogue: SQLite and OpenSSL's libcrypto; the media readers: TagLib, libavformat and exiv2
# (found through pkg-config).
group[build]="cmake make g++ qt6-base-dev libgl-dev zlib1g-dev libsqlite3-dev libssl-dev pkgconf
              libtag1-dev libavformat-dev libexiv2-dev"
# The test suite: real clients of the outputs, the package and its checks.
# python3-jsonschema, ncdu and gdu read the JSON and ncdu exports; sqlite3 reads the catalogue,
# dosfstools makes the FAT image of its coarse-time test.
# The media corpus (scripts/make-media-corpus.sh) and the programs its figures are checked against.
group[test]="@build @package @browsers xsltproc libxml2-utils python3 python3-jsonschema ncdu gdu sqlite3
             dosfstools @media"
group[media]="ffmpeg flac lame vorbis-tools opus-tools wavpack musepack-tools imagemagick
              libimage-exiftool-perl"
# The web page and the web archive in real browsers, driven by puppeteer-core (package-lock.json).
group[browsers]="nodejs ca-certificates chromium firefox-esr"
# The Debian package, its man pages and completions, and the tools that check them.
group[package]="@build help2man dpkg-dev file lintian appstream desktop-file-utils man-db
                bash bash-completion zsh fish"
# The window probes (bench/event_probe.py, bench/catalog_window_probe.sh) answer _NET_WM_PING
# through python3-xlib on a virtual display; the walk's benchmark has gdu as a peer, and libfuse3
# for its file system that waits on every call.
group[bench]="@build @browsers @media @shots tree findutils time ncdu plocate sqlite3 openssl
             python3-xlib gdu libfuse3-dev fuse3"
# Screenshots of the window on a virtual display (scripts/screenshot.sh).
group[shots]="xvfb xauth xdotool imagemagick desktop-file-utils"
# Web archives rendered in headless Chromium (scripts/render-mht.sh): the browser alone.
group[render]="chromium"
# libFuzzer targets (./treelan.sh fuzz): Debian's clang is 14, whose libFuzzer runtime lives in
# libclang-rt-14-dev, which clang only recommends.
group[fuzz]="@build @media clang libclang-rt-14-dev"

declare -A seen
packages=()
add_group() {
    local name=$1 word
    [ -n "${group[$name]+set}" ] || { echo "install-deps.sh: unknown group '$name'" >&2; exit 2; }
    [ -z "${seen[@$name]+set}" ] || return 0
    seen[@$name]=1
    for word in ${group[$name]}; do
        if [[ $word == @* ]]; then
            add_group "${word#@}"
        elif [ -z "${seen[$word]+set}" ]; then
            seen[$word]=1
            packages+=("$word")
        fi
    done
}
[ $# -gt 0 ] || set -- build
for g in "$@"; do add_group "$g"; done

# A package-lock.json at the top brings npm with it, for the browser tests and benchmarks. A
# Node.js from elsewhere brings its own npm, which Debian's npm package would fight.
npm_lock=""
if [ -n "${seen[@browsers]+set}" ] && [ -f package-lock.json ]; then
    npm_lock=package-lock.json
    command -v npm >/dev/null || [ -n "${seen[npm]+set}" ] || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "install-deps.sh: run as root, or install sudo" >&2; exit 1; }
        SUDO=(sudo)
    fi
    "${SUDO[@]}" apt-get update -qq
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
fi

# npm packages exactly as locked, again only when the lock file changed since the last install.
if [ -n "$npm_lock" ] && ! cmp -s "$npm_lock" node_modules/.package-lock.json.installed 2>/dev/null; then
    # Node.js trusts only its own list of certificate authorities; add the system's, so that a
    # registry reached through a proxy or mirror with a local authority works as it does for apt.
    system_ca=/etc/ssl/certs/ca-certificates.crt
    [ -z "${NODE_EXTRA_CA_CERTS:-}" ] && [ -r "$system_ca" ] && export NODE_EXTRA_CA_CERTS=$system_ca
    # Without the registry the browser tests say so and skip; everything else still runs.
    if npm ci --no-audit --no-fund; then
        cp "$npm_lock" node_modules/.package-lock.json.installed
    else
        echo "install-deps: npm ci failed (see above): the browser tests will be skipped" >&2
    fi
fi
