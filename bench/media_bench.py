#!/usr/bin/env python3
"""Media details: treelan-cli export --media over 2,000 files per kind (audio, video, pictures)
against ffprobe (the peer) in the same run, warm cache; bytes read per file; start-up.

    media_bench.py BIN_DIR [--files N] [--peer-files P] [--runs R] [--baseline OLD_TREELAN_CLI]

Per kind: the export's wall time with --media less the same export without it, over N files
(copies of the corpus that scripts/make-media-corpus.sh makes, each a hard link), best of R; the
peer runs `ffprobe -show_entries format=duration` on P of them, one process a file as a script
would. Bytes: the median over the files of what the readers fetched (bench_mediabytes).
Start-up: `treelan-cli --version` and an export without --media of a small folder, median of 100
run in turn with OLD_TREELAN_CLI (a build of the commit before) when given.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
KINDS = {
    "audio": (".mp3", ".flac", ".ogg", ".opus", ".m4a", ".wav", ".aiff", ".wma", ".wv", ".mpc"),
    "video": (".mp4", ".mov", ".mkv", ".webm", ".avi", ".wmv"),
    "pictures": (".jpg", ".png", ".tif", ".webp", ".heic", ".avif"),
}
LIMIT_US = {"audio": 600, "video": 200, "pictures": 250}


def timed(cmd, out_path):
    return measured(cmd, out_path)[0]


def measured(cmd, out_path):
    """Wall time, and the processor time (user and system) of the process and its helpers."""
    before = os.times()
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        subprocess.run(cmd, stdout=out, stderr=subprocess.DEVNULL, check=True)
        wall = time.perf_counter() - start
    after = os.times()
    return wall, (after.children_user - before.children_user) + (after.children_system - before.children_system)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bin")
    ap.add_argument("--files", type=int, default=2000)
    ap.add_argument("--peer-files", type=int, default=200)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--baseline")
    a = ap.parse_args()
    cli = os.path.join(a.bin, "treelan-cli")
    work = tempfile.mkdtemp(prefix="treelan-media-bench-")
    try:
        corpus = os.path.join(work, "corpus")
        subprocess.run([os.path.join(SOURCE, "scripts", "make-media-corpus.sh"), corpus],
                       check=True, stderr=subprocess.DEVNULL)
        out = os.path.join(work, "out.csv")
        ok = True
        print("media details, %d files per kind, warm cache, best of %d" % (a.files, a.runs))
        for kind, exts in KINDS.items():
            sources = sorted(f for f in os.listdir(corpus) if f.endswith(exts))
            folder = os.path.join(work, kind)
            os.mkdir(folder)
            for i in range(a.files):
                src = sources[i % len(sources)]
                os.link(os.path.join(corpus, src), os.path.join(folder, "%05d-%s" % (i, src)))
            files = sorted(os.path.join(folder, f) for f in os.listdir(folder))
            for f in files:  # warm the cache
                with open(f, "rb") as h:
                    h.read()
            plain_runs = [measured([cli, "export", "-q", "-f", "csv", folder, out], out)
                          for _ in range(a.runs)]
            media_runs = [measured([cli, "export", "-q", "-M", "-f", "csv", folder, out], out)
                          for _ in range(a.runs)]
            plain, media = min(r[0] for r in plain_runs), min(r[0] for r in media_runs)
            us = (media - plain) / a.files * 1e6
            # Processor time is what a loaded machine disturbs least.
            cpu_us = (min(r[1] for r in media_runs) - min(r[1] for r in plain_runs)) / a.files * 1e6
            peer_files = files[: a.peer_files]
            start = time.perf_counter()
            for f in peer_files:
                subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                                "-of", "csv=p=0", f], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
            peer_us = (time.perf_counter() - start) / len(peer_files) * 1e6
            p = subprocess.run([os.path.join(a.bin, "bench_mediabytes")], input="\n".join(files),
                               stdout=subprocess.PIPE, text=True, check=True)
            rows = [line.split(" ", 2) for line in p.stdout.splitlines()]
            byte_counts = [int(r[0]) for r in rows]
            in_process = [int(r[1]) for r in rows]
            median_bytes = statistics.median(byte_counts)
            good = us <= LIMIT_US[kind] and median_bytes <= 64 * 1024
            ok &= good
            print("  %-8s treelan %7.1f us/file (limit %d; processor time %.0f us/file, whole "
                  "export %.0f us/file, the readers alone in one process %.0f us median), ffprobe "
                  "%8.0f us/file; bytes read median %6.0f (max %d, limit 65536) %s"
                  % (kind, us, LIMIT_US[kind], cpu_us, media / a.files * 1e6,
                     statistics.median(in_process), peer_us, median_bytes, max(byte_counts),
                     "ok" if good else "OVER"))
        small = os.path.join(work, "small")
        os.mkdir(small)
        for i in range(20):
            open(os.path.join(small, "f%d.txt" % i), "w").close()
        for label, args in (("--version", ["--version"]),
                            ("export without --media", ["export", "-q", "-f", "csv", small, out])):
            # Ours and the baseline in turn, so that the machine's drift falls on both alike.
            mine, before = [], []
            for _ in range(100):
                mine.append(timed([cli] + args, out))
                if a.baseline:
                    before.append(timed([a.baseline] + args, out))
            ours = statistics.median(mine) * 1e3
            line = "  start-up %-24s %6.2f ms" % (label, ours)
            if a.baseline:
                base = statistics.median(before) * 1e3
                good = ours <= base + 5
                ok &= good
                line += ", before %6.2f ms (limit +5 ms) %s" % (base, "ok" if good else "OVER")
            print(line)
        libs = subprocess.run(["ldd", cli], stdout=subprocess.PIPE, text=True).stdout
        linked = [n for n in ("libtag", "libavformat", "libexiv2") if n in libs]
        print("  treelan-cli links %s" % (", ".join(linked) if linked else "none of TagLib, libavformat, exiv2"))
        return 0 if ok else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
