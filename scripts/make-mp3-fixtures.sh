#!/usr/bin/env bash
# Makes the small MP3 files of tests/data/mp3/ with lame and records ffprobe's playing time of each
# in reference.tsv, the figures that the reader's playing times are checked against.
# Needs lame, ffmpeg and ffprobe (apt-get install lame ffmpeg); CI uses the committed files only.
set -euo pipefail
cd "$(dirname "$0")/.."
out=tests/data/mp3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.mp3 "$out"/reference.tsv

# A tone that glides and some noise, so that VBR frames really vary in size.
wav() { # rate channels seconds file
    ffmpeg -v error -y -f lavfi \
        -i "aevalsrc=0.4*sin(2*PI*(300+200*t)*t)+0.05*(random(0)-0.5):s=$1:d=$3" \
        -ac "$2" -fflags +bitexact -flags:a +bitexact "$4"
}

# A "JPEG" cover whose body holds a frame header (0xFF 0xFB, 32 kbps, 44.1 kHz): a reader that does
# not skip the ID3v2 tag takes it for the first frame and reports a much longer playing time.
python3 - "$work/cover.jpg" <<'EOF'
import sys
body = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
body += b"\x00" * 40 + b"\xff\xfb\x10\x00" + b"\x00" * 200 + b"\xff\xd9"
open(sys.argv[1], "wb").write(body)
EOF

printf 'file\tvbr\tseconds\n' >"$out/reference.tsv"

encode() { # name rate channels seconds vbr(0/1) lame-options...
    local name=$1 rate=$2 channels=$3 seconds=$4 vbr=$5
    shift 5
    wav "$rate" "$channels" "$seconds" "$work/$name.wav"
    lame --quiet --noreplaygain "$@" "$work/$name.wav" "$out/$name.mp3"
    local duration
    duration=$(ffprobe -v fatal -show_entries format=duration -of csv=p=0 "$out/$name.mp3" 2>/dev/null)
    printf '%s\t%s\t%s\n' "$name.mp3" "$vbr" "$duration" >>"$out/reference.tsv"
}

# MPEG-1: 44.1, 48 and 32 kHz
encode cbr-44k-stereo 44100 2 3 0 -b 128
encode cbr-48k-mono 48000 1 4 0 -m m -b 64
encode cbr-32k-joint 32000 2 3 0 -m j -b 80
encode vbr-44k-stereo 44100 2 4 1 -V 6
encode vbr-48k-mono 48000 1 5 1 -m m -V 7
encode vbr-32k-stereo 32000 2 3 1 -V 8 --resample 32
# MPEG-2: 22.05, 24 and 16 kHz
encode cbr-22k-stereo 22050 2 4 0 -b 64
encode cbr-24k-mono 24000 1 4 0 -m m -b 64
# Frames of 24 kbps at 16 kHz are too small for lame's Info header: a plain CBR stream
encode cbr-16k-mono 16000 1 6 0 -m m -b 24
encode vbr-24k-stereo 24000 2 5 1 -V 7
encode vbr-16k-mono 16000 1 7 1 -m m -V 8
# Tags: an ID3v2 tag with the cover above, and an ID3v1 tag
encode cbr-id3v2-cover 44100 2 3 0 -b 96 --id3v2-only --tt "Cover" --ti "$work/cover.jpg"
encode vbr-id3v2-cover 22050 1 5 1 -m m -V 6 --id3v2-only --tt "Cover" --ti "$work/cover.jpg"
encode cbr-id3v1 44100 1 4 0 -m m -b 48 --id3v1-only --tt "Title" --ta "Artist"
encode vbr-id3v1-id3v2 48000 2 3 1 -V 8 --add-id3v2 --tt "Both tags" --ti "$work/cover.jpg"

du -cb "$out"/*.mp3 | tail -1
