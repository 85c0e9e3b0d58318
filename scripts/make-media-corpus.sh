#!/usr/bin/env bash
# Makes a small corpus of media files, one or more per format, with the encoders Debian ships:
#   scripts/make-media-corpus.sh OUTPUT_FOLDER
# Audio lasts 7.5 s and carries the tags below (text outside the Basic Multilingual Plane
# included); videos last 5.5 s at 160x90, one turned a quarter; pictures are 64x48 with EXIF
# orientation, date taken (with its offset) and camera. Broken and truncated copies of each
# file and random bytes under media names go to OUTPUT_FOLDER/hostile. A format whose encoder is
# missing is left out with a message (its row in the tests then skips). AUDIO_SECONDS and
# VIDEO_SECONDS make shorter files (the fuzz target's seeds: 0.3 and 0.2).
set -euo pipefail
# The encoders read the tags' text in the locale's encoding: a machine without one (a bare
# root, cron) would turn the emoji into question marks.
export LC_ALL=C.UTF-8
audio_seconds=${AUDIO_SECONDS:-7.5}
video_seconds=${VIDEO_SECONDS:-5.5}
out=${1:?usage: make-media-corpus.sh OUTPUT_FOLDER}
mkdir -p "$out/hostile"
cd "$out"

TITLE='Night 🎵 Fahrt'
ARTIST='Ünïcödé 😀 Band'
ALBUM='Albüm 🎶'
YEAR=2021
TRACK=3
GENRE='Jazz'

have() { command -v "$1" >/dev/null 2>&1; }
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
skip() { echo "make-media-corpus: $1 left out: $2" >&2; }
meta=(-metadata "title=$TITLE" -metadata "artist=$ARTIST" -metadata "album=$ALBUM"
      -metadata "date=$YEAR" -metadata "track=$TRACK" -metadata "genre=$GENRE")

# The sources: a tone at 44.1 kHz (the rate musepack wants), and its mono 22.05 kHz copy.
ff -f lavfi -i "sine=frequency=440:duration=$audio_seconds" -ar 44100 -ac 2 -bitexact src44.wav
ff -i src44.wav -ar 22050 -ac 1 -bitexact src22.wav

# MP3: constant rate, variable with a Xing header, variable without one (-t).
lame --quiet -b 64 --id3v2-only --id3v2-utf16 --tt "$TITLE" --ta "$ARTIST" --tl "$ALBUM" \
    --ty "$YEAR" --tn "$TRACK" --tg "$GENRE" src22.wav cbr.mp3
lame --quiet -V 6 --id3v2-only --id3v2-utf16 --tt "$TITLE" --ta "$ARTIST" --tl "$ALBUM" \
    --ty "$YEAR" --tn "$TRACK" --tg "$GENRE" src22.wav vbr-xing.mp3
lame --quiet -V 6 -t --id3v2-only --id3v2-utf16 --tt "$TITLE" --ta "$ARTIST" --tl "$ALBUM" \
    --ty "$YEAR" --tn "$TRACK" --tg "$GENRE" src22.wav vbr-noxing.mp3

flac --silent -f -o tone.flac -T "TITLE=$TITLE" -T "ARTIST=$ARTIST" -T "ALBUM=$ALBUM" \
    -T "DATE=$YEAR" -T "TRACKNUMBER=$TRACK" -T "GENRE=$GENRE" src22.wav
oggenc --quiet -q 0 -o tone.ogg -t "$TITLE" -a "$ARTIST" -l "$ALBUM" -d "$YEAR" -N "$TRACK" \
    -G "$GENRE" src22.wav
opusenc --quiet --bitrate 24 --title "$TITLE" --artist "$ARTIST" --album "$ALBUM" --date "$YEAR" \
    --genre "$GENRE" --comment "TRACKNUMBER=$TRACK" src22.wav tone.opus
ff -i src22.wav -c:a aac -b:a 32k "${meta[@]}" tone-aac.m4a
ff -i src22.wav -c:a alac "${meta[@]}" tone-alac.m4a
# WAV with its tags in a RIFF INFO chunk (ffmpeg writes them as UTF-8).
ff -i src22.wav -c:a pcm_s16le "${meta[@]}" tone.wav
ff -i src22.wav -c:a pcm_s16le -rf64 always "${meta[@]}" tone-rf64.wav
# A WAV whose RIFF and data sizes say "unknown", as streaming recorders leave them.
python3 - <<'PY'
import struct
b = bytearray(open("tone.wav", "rb").read())
b[4:8] = struct.pack("<I", 0xFFFFFFFF)
i = b.find(b"data")
b[i + 4:i + 8] = struct.pack("<I", 0xFFFFFFFF)
open("tone-badsize.wav", "wb").write(b)
PY
ff -i src22.wav -c:a pcm_s16be -write_id3v2 1 "${meta[@]}" tone.aiff
ff -i src22.wav -c:a wmav2 -b:a 32k "${meta[@]}" tone.wma
wavpack -q -y -w "Title=$TITLE" -w "Artist=$ARTIST" -w "Album=$ALBUM" -w "Year=$YEAR" \
    -w "Track=$TRACK" -w "Genre=$GENRE" src22.wav -o tone.wv
if have mpcenc; then
    mpcenc --silent --overwrite --quality 2 --title "$TITLE" --artist "$ARTIST" --album "$ALBUM" \
        --year "$YEAR" --track "$TRACK" --genre "$GENRE" src44.wav tone.mpc
else
    skip tone.mpc "mpcenc (musepack-tools) not installed"
fi

# Videos: 160x90, 5.5 s, with a tone; one MP4 carries a quarter turn (displayed 90x160).
video=(-f lavfi -i "testsrc=size=160x90:rate=10:duration=$video_seconds"
       -f lavfi -i "sine=duration=$video_seconds")
ff "${video[@]}" -c:v libx264 -preset ultrafast -c:a aac -shortest -metadata "title=$TITLE" clip.mp4
ff "${video[@]}" -c:v libx264 -preset ultrafast -c:a aac -shortest clip-rotated.mp4
exiftool -q -q -overwrite_original -Rotation=90 clip-rotated.mp4 # a display matrix in the track header
ff "${video[@]}" -c:v libx264 -preset ultrafast -c:a aac -shortest clip.mov
ff "${video[@]}" -c:v libx264 -preset ultrafast -c:a aac -shortest clip.mkv
ff "${video[@]}" -c:v libvpx -b:v 100k -c:a libvorbis -shortest clip.webm
ff "${video[@]}" -c:v mpeg4 -c:a mp3 -shortest clip.avi
ff "${video[@]}" -c:v wmv2 -c:a wmav2 -shortest clip.wmv

# Pictures 64x48; EXIF orientation 6 (turned a quarter: displayed 48x64), date taken with its
# offset, camera make and model.
exif=(-q -q -overwrite_original -n -Orientation=6 "-DateTimeOriginal=2024:05:01 12:34:56"
      "-OffsetTimeOriginal=+02:00" -Make=Treelan "-Model=Test Camera 1")
convert -size 64x48 gradient:red-blue photo.jpg
exiftool "${exif[@]}" photo.jpg
convert -size 64x48 gradient:red-blue photo.png
exiftool "${exif[@]}" photo.png
convert -size 64x48 gradient:red-blue photo.tif
exiftool "${exif[@]}" photo.tif
convert -size 64x48 gradient:red-blue photo.webp
exiftool "${exif[@]}" photo.webp
for f in heic avif; do
    if convert -size 64x48 gradient:red-blue "photo.$f" 2>/dev/null && [ -s "photo.$f" ]; then :
    else rm -f "photo.$f"; skip "photo.$f" "ImageMagick cannot write it"; fi
done
# A picture without EXIF: its size as stored.
convert -size 30x20 xc:green plain.png

rm -f src44.wav src22.wav

# Hostile copies: each file cut after 200 bytes and after half, its first 4 KiB overwritten with
# bytes of a fixed seed, and random bytes under each media name.
python3 - <<'PY'
import os, random
rng = random.Random(21)
for name in sorted(os.listdir(".")):
    if not os.path.isfile(name):
        continue
    data = open(name, "rb").read()
    stem, ext = os.path.splitext(name)
    open(f"hostile/{stem}-cut200{ext}", "wb").write(data[:200])
    open(f"hostile/{stem}-half{ext}", "wb").write(data[: len(data) // 2])
    noisy = bytearray(data)
    for i in range(16, min(len(noisy), 4096)):
        noisy[i] = rng.randrange(256)
    open(f"hostile/{stem}-noise{ext}", "wb").write(noisy)
    open(f"hostile/{stem}-random{ext}", "wb").write(bytes(rng.randrange(256) for _ in range(20000)))
# A truncated AVI under a picture's name: exiv2 0.27.6 loops for ever on it.
avi = open("clip.avi", "rb").read()
open("hostile/avi-as.jpg", "wb").write(avi[:3000])
PY
