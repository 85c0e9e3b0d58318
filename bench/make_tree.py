#!/usr/bin/env python3
"""Generates the benchmark tree: sparse files with fixed times in a three-level folder tree.

    make_tree.py DIR [--files N] [--folders M] [--mp3 K] [--flat]

--flat puts all N files into DIR itself: one folder as large as a folder gets.

--mp3 K instead makes K MP3 files, each headed by an ID3v2 tag with cover art (random bytes that
hold false frame syncs), for measuring how much the MP3 reader reads.
"""
import argparse
import os
import random
import struct

FIXED_TIME = 1_104_537_600  # 2005-01-01 00:00:00 UTC


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def mp3_with_cover(rng, art_size):
    art = bytearray(rng.randbytes(art_size))
    for i in range(0, art_size - 4, 997):  # false frame headers inside the picture
        art[i:i + 3] = b"\xff\xfb\x90"
    apic = b"\x00image/jpeg\x00\x03\x00" + bytes(art)
    frame = b"APIC" + struct.pack(">I", len(apic)) + b"\x00\x00" + apic
    tag = b"ID3\x03\x00\x00" + syncsafe(len(frame)) + frame
    audio = (b"\xff\xfb\x90\x64" + bytes(413)) * 400  # 128 kbps, 44.1 kHz frames
    return tag + audio


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    ap.add_argument("--files", type=int, default=200_000)
    ap.add_argument("--folders", type=int, default=14_000)
    ap.add_argument("--mp3", type=int, default=0)
    ap.add_argument("--flat", action="store_true")
    a = ap.parse_args()
    rng = random.Random(42)
    os.makedirs(a.dir, exist_ok=True)

    if a.mp3:
        for i in range(a.mp3):
            folder = os.path.join(a.dir, "album%03d" % (i // 20))
            os.makedirs(folder, exist_ok=True)
            path = os.path.join(folder, "track%02d.mp3" % (i % 20))
            with open(path, "wb") as f:
                f.write(mp3_with_cover(rng, rng.randint(20_000, 300_000)))
            os.utime(path, (FIXED_TIME, FIXED_TIME))
        return

    if a.flat:
        exts = [".txt", ".jpg", ".mp3", ".pdf", ".doc", ""]
        for i in range(a.files):
            path = os.path.join(a.dir, "file %07d%s" % (i, exts[i % len(exts)]))
            fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
            os.ftruncate(fd, rng.randrange(10_000_000))
            os.close(fd)
            os.utime(path, (FIXED_TIME, FIXED_TIME))
        print("%d files in one folder" % a.files)
        return

    top = max(1, round((a.folders / 35) ** (1 / 2) / 1.2))
    mid = 35
    leaves = []
    for t in range(top):
        for m in range(mid):
            leaves.append(os.path.join(a.dir, "Top %02d" % t, "mid-%02d" % m))
    per_leaf = max(1, a.folders // len(leaves))
    folders = []
    for leaf in leaves:
        for k in range(per_leaf):
            folders.append(os.path.join(leaf, "Folder_%03d" % k))
    for f in folders:
        os.makedirs(f, exist_ok=True)
    exts = [".txt", ".jpg", ".mp3", ".pdf", ".doc", ""]
    for i in range(a.files):
        folder = folders[i % len(folders)]
        name = "file %06d%s" % (rng.randrange(1_000_000), exts[i % len(exts)])
        path = os.path.join(folder, name)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.ftruncate(fd, rng.randrange(10_000_000))
        os.close(fd)
        os.utime(path, (FIXED_TIME, FIXED_TIME))
    print("%d files in %d folders" % (a.files, len(folders) + len(leaves) + top))


if __name__ == "__main__":
    main()
