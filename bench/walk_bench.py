#!/usr/bin/env python3
"""The walk against its peers in the same run: treelan-cli export -r -f json with its workers
(--jobs left to choose) and with one thread (--jobs 1, the walk one folder after another), find -printf
and gdu, on the generated trees, warm and cold, through a file system that waits 1 ms per call, over
MP3 files with -m, and the peak memory at a million files.

    walk_bench.py BIN_DIR [--rounds R] [--fuse-rounds R] [--million] [--only CASE...]

Each case runs its programs in alternating rounds (the order rotates every round); a figure is the
median of the rounds, and a ratio the median of the rounds' ratios. Cold cache: the page cache is
dropped (echo 3 > /proc/sys/vm/drop_caches) before every run, where /proc/sys is writable; skipped
otherwise. The FUSE case (bench/latency_fs.c, built here with libfuse3) is skipped with a message where
/dev/fuse or mounting is refused. Outputs go to files in the work folder.
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
WORK = os.environ.get("TREELAN_BENCH_DIR", "/tmp/treelan-bench")
DROP = "/proc/sys/vm/drop_caches"


def drop_caches():
    subprocess.run(["sync"], check=False)
    with open(DROP, "w") as f:
        f.write("3\n")


def can_drop():
    try:
        drop_caches()
        return True
    except OSError:
        return False


def run(cmd, out_path):
    """Wall seconds and peak MiB of one process; standard output into `out_path`."""
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        p = subprocess.run(["/usr/bin/time", "-f", "%M", "--"] + cmd, stdout=out, stderr=subprocess.PIPE)
        wall = time.perf_counter() - start
    err = p.stderr.decode(errors="replace")
    if p.returncode not in (0, 1):
        sys.exit("%s failed (%d): %s" % (" ".join(cmd), p.returncode, err[-2000:]))
    return wall, int(err.strip().splitlines()[-1]) / 1024.0


def compare(case, programs, reference, rounds, cold=False, rows=None, warmup=True):
    """Runs `programs` (label -> command) in rotating order; prints and returns medians and ratios
    against `reference`."""
    labels = list(programs)
    out = os.path.join(WORK, "walk-out")
    if warmup and not cold:
        for label in labels:  # warm the cache, and the programs
            run(programs[label], out)
    times = {label: [] for label in labels}
    peaks = {label: 0.0 for label in labels}
    for r in range(rounds):
        order = labels[r % len(labels):] + labels[:r % len(labels)]
        for label in order:
            if cold:
                drop_caches()
            wall, peak = run(programs[label], out)
            times[label].append(wall)
            peaks[label] = max(peaks[label], peak)
    result = {}
    print("\n%s (%d rounds%s)" % (case, rounds, ", cold cache" if cold else ", warm cache"))
    for label in labels:
        ratios = [a / b for a, b in zip(times[label], times[reference])]
        result[label] = (statistics.median(times[label]), statistics.median(ratios), peaks[label])
        print("  %-22s %9.3f s  x%-5.2f of %-8s peak %6.1f MiB  (rounds: %s)" % (
            label, result[label][0], result[label][1], reference, peaks[label],
            " ".join("%.3f" % t for t in times[label])), flush=True)
    if rows is not None:
        rows.append((case + (" cold" if cold else " warm"), result, reference))
    return result


def tree(name, *args):
    path = os.path.join(WORK, name)
    if not os.path.isdir(path):
        print("generating %s ..." % path, flush=True)
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), path] + list(args), check=True)
    return path


def peers(cli, root, extra=()):
    out = os.path.join(WORK, "walk-export.json")
    programs = {
        "treelan (workers)": [cli, "export", "-r", "-q", "-f", "json", *extra, root, out],
        "treelan --jobs 1": [cli, "export", "-r", "-q", "-f", "json", "--jobs", "1", *extra, root, out],
        "find -printf": ["find", root, "-printf", "%s %T@ %P\\n"],
    }
    if shutil.which("gdu"):
        programs["gdu"] = ["gdu", "-n", "-p", "-c", root]
    return programs


def latency_fs(source, delay_us=1000):
    """Builds and mounts the latency file system over `source`; returns (mount point, unmount) or
    None with the reason printed."""
    if not os.path.exists("/dev/fuse"):
        print("\nFUSE case skipped: no /dev/fuse")
        return None
    binary = os.path.join(WORK, "latency_fs")
    built = subprocess.run("cc -O2 -o %s %s $(pkg-config --cflags --libs fuse3)" % (
        binary, os.path.join(HERE, "latency_fs.c")), shell=True, stderr=subprocess.PIPE)
    if built.returncode != 0:
        print("\nFUSE case skipped: cannot build latency_fs (libfuse3-dev?): %s" % built.stderr.decode()[-300:])
        return None
    mount = tempfile.mkdtemp(prefix="latency-", dir=WORK)
    started = subprocess.run([binary, source, mount, "-o", "delay_us=%d" % delay_us], stderr=subprocess.PIPE)
    if started.returncode != 0:
        print("\nFUSE case skipped: mounting refused: %s" % started.stderr.decode().strip())
        return None
    for _ in range(100):
        if os.path.ismount(mount):
            break
        time.sleep(0.05)

    def unmount():
        subprocess.run(["fusermount3", "-u", mount], check=False)
        os.rmdir(mount)
    return mount, unmount


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bindir")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--fuse-rounds", type=int, default=3, help="rounds through the slow mount")
    ap.add_argument("--million", action="store_true", help="also the 1,000,000-file tree")
    ap.add_argument("--only", nargs="*", default=[], help="warm cold fuse mp3 catalog memory")
    a = ap.parse_args()
    cli = os.path.join(a.bindir, "treelan-cli")
    os.makedirs(WORK, exist_ok=True)
    want = lambda case: not a.only or case in a.only
    rows = []
    print("cores: %d; other jobs on this machine share them" % os.cpu_count())

    big = tree("tree-200000", "--files", "200000", "--folders", "14000")  # shared with catalog_bench.py
    if want("warm"):
        compare("200,000 files", peers(cli, big), "find -printf", a.rounds, rows=rows)
        if a.million:
            compare("1,000,000 files", peers(cli, million(a)), "find -printf", a.rounds, rows=rows)
    if want("cold"):
        if can_drop():
            compare("200,000 files", peers(cli, big), "find -printf", a.rounds, cold=True, rows=rows)
            if a.million:
                compare("1,000,000 files", peers(cli, million(a)), "find -printf", a.rounds, cold=True,
                        rows=rows)
        else:
            print("\ncold cache skipped: %s is not writable" % DROP)
    if want("fuse"):
        small = tree("walk-20k", "--files", "18600", "--folders", "1400")
        mounted = latency_fs(small)
        if mounted:
            try:
                # The mount caches nothing: no warming run.
                compare("20,000 entries, 1 ms per call (FUSE)", peers(cli, mounted[0]), "treelan --jobs 1",
                        a.fuse_rounds, rows=rows, warmup=False)
            finally:
                mounted[1]()
        # A cancel while the workers sit in system calls of a mount that answers in 300 ms.
        cancel = os.path.join(a.bindir, "bench_walkcancel")
        stalled = latency_fs(small, 300_000) if os.path.exists(cancel) else None
        if stalled:
            try:
                print("\ncancel on a mount that answers in 300 ms (bench_walkcancel):", flush=True)
                subprocess.run([cancel, stalled[0], "8000", "3"], check=False)
            finally:
                stalled[1]()
    if want("mp3"):
        mp3 = tree("walk-mp3", "--mp3", "2000")
        programs = {k: v for k, v in peers(cli, mp3, ["-m"]).items() if k.startswith("treelan")}
        if can_drop():
            compare("2,000 MP3 files, -m", programs, "treelan --jobs 1", a.rounds, cold=True, rows=rows)
        else:
            print("\n-m cold skipped: %s is not writable" % DROP)
    if want("catalog"):
        # A first snapshot each run: the catalogue is made anew.
        db = os.path.join(WORK, "walk-catalog.db")
        add = "rm -f %s %s-wal %s-shm && exec %s catalog add -q --db %s %%s %s" % (db, db, db, cli, db, big)
        compare("catalog add, 200,000 files", {
            "treelan (workers)": ["sh", "-c", add % ""],
            "treelan --jobs 1": ["sh", "-c", add % "--jobs 1"],
            "find -printf": ["find", big, "-printf", "%s %T@ %P\\n"],
        }, "find -printf", a.rounds, rows=rows)
    if want("memory"):
        # Peak resident memory; two alternating rounds, the first of which may meet a cold cache.
        root = million(a)
        out = os.path.join(WORK, "walk-export.json")
        runs = {"workers": [], "--jobs 1": []}
        for r in range(2):
            for label, extra in ((("workers", []), ("--jobs 1", ["--jobs", "1"])) if r == 0 else
                                 (("--jobs 1", ["--jobs", "1"]), ("workers", []))):
                runs[label].append(run([cli, "export", "-r", "-q", "-f", "json", *extra, root, out],
                                       os.path.join(WORK, "walk-out")))
        for label, results in runs.items():
            peak = max(p for _, p in results)
            print("\n1,000,000 files (300,000 in one folder), %s: %s s, peak %.1f MiB" % (
                label, " ".join("%.2f" % w for w, _ in results), peak))
            rows.append(("peak memory, 1M files, " + label, {"treelan": (results[-1][0], 0, peak)}, "treelan"))

    print("\nsummary (medians; ratio: median of the rounds' ratios to the reference)")
    for case, result, reference in rows:
        for label, (median, ratio, peak) in result.items():
            print("  %-44s %-20s %9.3f s  x%.2f of %s  %.0f MiB" % (case, label, median, ratio, reference, peak))


def million(a):
    """1,000,000 files: 700,000 in the three-level tree, 300,000 in one folder beside it."""
    path = os.path.join(WORK, "walk-1m")
    if not os.path.isdir(path):
        tree(os.path.join("walk-1m", "tree"), "--files", "700000", "--folders", "49000")
        tree(os.path.join("walk-1m", "flat"), "--files", "300000", "--flat")
    return path


if __name__ == "__main__":
    main()
