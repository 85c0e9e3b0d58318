#!/usr/bin/env bash
# Makes the small MPEG audio files of tests/data/mp3/ with lame and ffmpeg and records ffprobe's
# playing time (and, for constant bit rates, the stream's bit rate) of each in reference.tsv, the
# figures that the reader is checked against. Also makes tests/data/mp3/not-mpeg/: small real files
# of other formats named .mp3, which must give no figures.
# Needs lame, ffmpeg and ffprobe (apt-get install lame ffmpeg); CI uses the committed files only.
set -euo pipefail
cd "$(dirname "$0")/.."
out=tests/data/mp3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.mp3 "$out"/reference.tsv "$out"/not-mpeg/*.mp3
mkdir -p "$out/not-mpeg"

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

printf 'file\tvbr\tseconds\tkbps\n' >"$out/reference.tsv"

# ffprobe's figures of a made file: playing time, and the stream's bit rate when it is constant.
reference() { # name vbr(0/1)
    local duration kbps=-
    duration=$(ffprobe -v fatal -show_entries format=duration -of csv=p=0 "$out/$1.mp3")
    if [ "$2" = 0 ]; then
        kbps=$(ffprobe -v fatal -select_streams a:0 -show_entries stream=bit_rate -of csv=p=0 \
            "$out/$1.mp3")
        kbps=$((kbps / 1000))
    fi
    printf '%s\t%s\t%s\t%s\n' "$1.mp3" "$2" "$duration" "$kbps" >>"$out/reference.tsv"
}

encode() { # name rate channels seconds vbr(0/1) lame-options...
    local name=$1 rate=$2 channels=$3 seconds=$4 vbr=$5
    shift 5
    wav "$rate" "$channels" "$seconds" "$work/$name.wav"
    lame --quiet --noreplaygain "$@" "$work/$name.wav" "$out/$name.mp3"
    reference "$name" "$vbr"
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

# MPEG-2.5: 8, 11.025 and 12 kHz
encode cbr-8k-mono 8000 1 10 0 -m m -b 8
encode vbr-11k-stereo 11025 2 6 1 -V 8
encode cbr-12k-mono 12000 1 6 0 -m m -b 16
# Low constant rates, where lame 3.100 leaves out its Info frame (it does not fit)
encode cbr-44k-32kbps 44100 1 4 0 -m m -b 32 --resample 44.1
encode cbr-22k-24kbps 22050 1 5 0 -m m -b 24

# Layer II, with ffmpeg's encoder: MPEG-1 at 44.1 kHz and MPEG-2 at 24 kHz
layer2() { # name rate channels seconds kbps
    wav "$2" "$3" "$4" "$work/$1.wav"
    ffmpeg -v error -y -i "$work/$1.wav" -c:a mp2 -b:a "$5k" -f mp2 -fflags +bitexact "$out/$1.mp3"
    reference "$1" 0
}
layer2 layer2-44k-stereo 44100 2 2 160
layer2 layer2-24k-mono 24000 1 5 64

# VBRI (the Fraunhofer encoders' header): a lame VBR stream without its Xing frame, with a VBRI
# header written into its first frame that counts the frames and bytes of the whole stream.
wav 32000 2 4 "$work/vbri.wav"
lame --quiet --noreplaygain -t -V 6 "$work/vbri.wav" "$work/vbri.mp3"
python3 - "$work/vbri.mp3" "$out/vbri-32k-stereo.mp3" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
rates = {3: (44100, 48000, 32000), 2: (22050, 24000, 16000), 0: (11025, 12000, 8000)}
kbps1 = (0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320)
kbps2 = (0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160)
frames, i = 0, 0
while i + 4 <= len(data) and data[i] == 0xFF and data[i + 1] & 0xE0 == 0xE0:
    version = data[i + 1] >> 3 & 3
    rate = rates[version][data[i + 2] >> 2 & 3]
    kbps = (kbps1 if version == 3 else kbps2)[data[i + 2] >> 4]
    i += (144 if version == 3 else 72) * kbps * 1000 // rate + (data[i + 2] >> 1 & 1)
    frames += 1
assert frames > 10 and i == len(data), (frames, i, len(data))
# version 1, delay, quality, bytes, frames, then an empty seek table
vbri = b"VBRI" + struct.pack(">HHHIIHHHH", 1, 576, 75, len(data), frames, 0, 1, 2, 1)
data[36:36 + len(vbri)] = vbri
open(sys.argv[2], "wb").write(data)
PY
reference vbri-32k-stereo 1

# Two ID3v2 tags one after the other, the second holding the cover with its false frame header
wav 44100 2 3 "$work/two-tags.wav"
lame --quiet --noreplaygain -b 128 --id3v2-only --tt "First tag" "$work/two-tags.wav" \
    "$work/two-tags.mp3"
python3 - "$work/two-tags.mp3" "$work/cover.jpg" "$out/cbr-two-id3v2.mp3" <<'PY'
import struct, sys
data, cover = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
size = 0
for b in data[6:10]:
    size = size << 7 | b
first = 10 + size
body = b"\x00image/jpeg\x00\x03\x00" + cover
frame = b"APIC" + struct.pack(">IH", len(body), 0) + body
syncsafe = bytes((len(frame) >> s) & 0x7F for s in (21, 14, 7, 0))
second = b"ID3\x03\x00\x00" + syncsafe + frame
open(sys.argv[3], "wb").write(data[:first] + second + data[first:])
PY
reference cbr-two-id3v2 0

# Other formats named .mp3: none of them may give a playing time.
ffmpeg -v error -y -f lavfi -i "aevalsrc=0.3*sin(2*PI*440*t)+0.2*(random(0)-0.5):s=8000:d=1" \
    -c:a pcm_s16le -f wav "$out/not-mpeg/wave.mp3"
still() { # name format codec
    ffmpeg -v error -y -f lavfi -i "testsrc2=s=128x96:d=1" -frames:v 1 -c:v "$3" -f "$2" \
        "$out/not-mpeg/$1.mp3"
}
still jpeg mjpeg mjpeg
still png image2 png
sound() { # name format codec
    ffmpeg -v error -y -f lavfi \
        -i "aevalsrc=0.3*sin(2*PI*(300+200*t)*t)+0.1*(random(0)-0.5):s=11025:d=1" \
        -c:a "$3" -b:a 48k -f "$2" -fflags +bitexact "$out/not-mpeg/$1.mp3"
}
sound m4a ipod aac
sound ogg ogg libvorbis
sound flac flac flac

du -cb "$out"/*.mp3 "$out"/not-mpeg/*.mp3 | tail -1
