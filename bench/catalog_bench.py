#!/usr/bin/env python3
"""The catalogue against its peers on the generated tree, in the same run: plocate and its updatedb for
search, treelan-cli export -f json of the same build for add and diff, openssl dgst for verify.

    catalog_bench.py BIN_DIR [--files N] [--folders M] [--million] [--rounds R] [--hash-mb MB]

Each pair runs in alternating rounds (which goes first alternates); a figure is the median of the rounds'
ratios, every round's ratio is printed. Warm cache: one untimed run of each first. Peak memory by GNU time;
CPU time (user + system) from the child's own accounting.
"""
import argparse
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WORK = os.environ.get("TREELAN_BENCH_DIR", "/tmp/treelan-bench")


def run(cmd, peak=True):
    """Wall seconds and peak MiB (0 unless `peak`) of one process."""
    start = time.perf_counter()
    p = subprocess.run((["/usr/bin/time", "-f", "%M", "--"] if peak else []) + cmd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    err = p.stderr.decode(errors="replace")
    if p.returncode not in (0, 1):
        sys.exit("%s failed (%d): %s" % (" ".join(cmd), p.returncode, err))
    return wall, int(err.strip().splitlines()[-1]) / 1024.0 if peak else 0.0


def cpu_of(cmd, stdout=subprocess.DEVNULL):
    """CPU seconds (user + system) of the command and its children."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, stdout=stdout, stderr=subprocess.DEVNULL, check=False)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def pair(name, ours, peer, rounds, setup=None, peak_too=True):
    """Medians of alternating rounds: (our median s, peer median s, median ratio, peak MiB)."""
    if setup:
        setup()
    run(ours, peak_too)
    run(peer, peak_too)
    ratios, mine, theirs, peak = [], [], [], 0.0
    for i in range(rounds):
        if setup:
            setup()
        if i % 2:
            b, _ = run(peer, peak_too)
            a, m = run(ours, peak_too)
        else:
            a, m = run(ours, peak_too)
            b, _ = run(peer, peak_too)
        mine.append(a)
        theirs.append(b)
        ratios.append(a / b)
        peak = max(peak, m)
    print("  %-34s %8.4f s  peer %8.4f s  ratio %5.2f  (rounds: %s)" % (
        name, statistics.median(mine), statistics.median(theirs), statistics.median(ratios),
        " ".join("%.2f" % r for r in ratios)))
    return statistics.median(mine), statistics.median(theirs), statistics.median(ratios), peak


def report(checks):
    ok = True
    print("  limits:")
    for label, value, limit in checks:
        good = value <= limit
        ok &= good
        print("    %-40s %10.3f  (limit %g) %s" % (label, value, limit, "ok" if good else "OVER"))
    return ok


def ensure_tree(files, folders):
    path = os.path.join(WORK, "tree-%d" % files)
    if not os.path.isdir(path):
        print("generating %s ..." % path, flush=True)
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), path, "--files", str(files),
                        "--folders", str(folders)], check=True)
    return path


def size_of(db):
    return sum(os.path.getsize(db + s) for s in ("", "-wal") if os.path.exists(db + s))


def count_lines(cmd):
    return subprocess.run(cmd, stdout=subprocess.PIPE, check=False).stdout.count(b"\n")


def tree_bench(bindir, files, folders, rounds):
    tree = ensure_tree(files, folders)
    cli = os.path.join(bindir, "treelan-cli")
    work = os.path.join(WORK, "catalog-%d" % files)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    db = os.path.join(work, "c.db")
    json_out = os.path.join(work, "out.json")
    export = [cli, "export", "-r", "-q", "-f", "json", tree, json_out]
    add = [cli, "catalog", "add", "-q", "--db", db, tree]
    print("\n%s: %d files requested, %d folders" % (tree, files, folders), flush=True)

    def fresh():
        for s in ("", "-wal", "-shm"):
            if os.path.exists(db + s):
                os.remove(db + s)

    first, exp, first_ratio, first_peak = pair("add, first snapshot", add, export, rounds, fresh)
    fresh()
    run(add)
    entries = int(subprocess.run(["sqlite3", db, "SELECT files + folders FROM snapshots WHERE id = 1"],
                                 stdout=subprocess.PIPE, check=True).stdout)
    size1 = size_of(db)
    _, _, again_ratio, again_peak = pair("add, unchanged tree", add, export, rounds)
    snapshots = int(subprocess.run(["sqlite3", db, "SELECT count(*) FROM snapshots"],
                                   stdout=subprocess.PIPE, check=True).stdout)
    size_later = (size_of(db) - size1) / max(snapshots - 1, 1)
    print("  catalogue: %d entries, %.1f bytes per entry; %.3f bytes per entry per unchanged snapshot" % (
        entries, size1 / entries, size_later / entries))

    # Search, one process each, full paths; plocate's database of the same tree.
    pdb = os.path.join(work, "plocate.db")
    updatedb = ["updatedb", "-U", tree, "-o", pdb, "--prune-bind-mounts", "no", "--prunepaths", "",
                "--prunefs", "", "--prunenames", "", "-l", "no"]
    up_wall, _ = run(updatedb)
    print("  updatedb of the tree: %.3f s; plocate.db %.1f bytes per entry" % (
        up_wall, os.path.getsize(pdb) / entries))
    searches = [
        ("search, part of names (~2,000)", "le 12", "le 12"),
        ("search, glob", "file 12*.mp3", "*/file 12*.mp3"),
        ("search, rare name", "file 123455", "file 123455"),
    ]
    search_results = {}
    for label, ours, theirs in searches:
        mine = [cli, "catalog", "search", "-0", "--db", db, ours]
        peer = ["plocate", "-0", "-d", pdb, theirs]
        n_ours = subprocess.run(mine, stdout=subprocess.PIPE, check=True).stdout.count(b"\0")
        n_peer = subprocess.run(peer, stdout=subprocess.PIPE, check=False).stdout.count(b"\0")
        print("  %s: %d results, plocate %d" % (label, n_ours, n_peer))
        search_results[label] = pair(label, mine, peer, rounds * 5, peak_too=False)

    # Diff of two snapshots: some changes between them; the work after start-up is the diff's time
    # less that of a diff of a snapshot with itself.
    # (The tree is shared with the other benchmarks: the times are put back afterwards.)
    rng = random.Random(7)
    touched = []
    for dirpath, _, names in os.walk(tree):
        for n in names:
            if rng.random() < 0.005:
                p = os.path.join(dirpath, n)
                st = os.stat(p)
                touched.append((p, st.st_atime_ns, st.st_mtime_ns))
                os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns + 1_000_000_000))
    try:
        run(add)
    finally:
        for p, atime, mtime in touched:
            os.utime(p, ns=(atime, mtime))
    last = int(subprocess.run(["sqlite3", db, "SELECT max(id) FROM snapshots"], stdout=subprocess.PIPE,
                              check=True).stdout)
    changed = count_lines([cli, "catalog", "diff", "--db", db, "1", str(last)]) - 1
    same = [cli, "catalog", "diff", "--db", db, "1", "1"]
    diff_two, base, _, _ = pair("diff of two snapshots (%d changes)" % changed,
                                [cli, "catalog", "diff", "--db", db, "1", str(last)], same, rounds * 3,
                                peak_too=False)
    diff_folder = pair("diff snapshot against the folder", [cli, "catalog", "diff", "--db", db, "1", tree],
                       export, rounds)

    checks = [
        ("first add / export -f json", first_ratio, 2.0),
        ("add unchanged / export -f json", again_ratio, 1.25),
        ("bytes per entry, first snapshot", size1 / entries, 180),
        ("bytes per entry, unchanged snapshot", size_later / entries, 1),
        ("diff two snapshots, ms after start-up", (diff_two - base) * 1000, 100),
        ("diff folder / export -f json", diff_folder[2], 1.3),
        ("add peak MiB", max(first_peak, again_peak), 64),
    ]
    for label, _, _ in searches:
        limit = 1.5 if "rare" in label else 1.0
        checks.append((label + " / plocate", search_results[label][2], limit))
    if "rare" in searches[2][0]:
        checks.append(("rare name search ms", search_results[searches[2][0]][0] * 1000, 30 if files <= 200_000 else 1e9))
    return report(checks)


def verify_bench(bindir, megabytes, rounds):
    """verify's CPU time against openssl dgst -sha256 over the same files."""
    folder = os.path.join(WORK, "hash-%dMB" % megabytes)
    if not os.path.isdir(folder):
        rng = random.Random(11)
        os.makedirs(folder)
        for i in range(megabytes * 4):
            with open(os.path.join(folder, "f%05d.bin" % i), "wb") as f:
                f.write(rng.randbytes(256 * 1024))
    cli = os.path.join(bindir, "treelan-cli")
    db = os.path.join(WORK, "hash.db")
    for s in ("", "-wal", "-shm"):
        if os.path.exists(db + s):
            os.remove(db + s)
    subprocess.run([cli, "catalog", "add", "-q", "--db", db, "--hash", "sha256", folder], check=True)
    files = sorted(os.path.join(folder, n) for n in os.listdir(folder))
    ours = [cli, "catalog", "verify", "--db", db, "1"]
    peer = ["openssl", "dgst", "-sha256"] + files
    cpu_of(ours)
    cpu_of(peer)
    ratios = []
    for i in range(rounds):
        if i % 2:
            b = cpu_of(peer)
            a = cpu_of(ours)
        else:
            a = cpu_of(ours)
            b = cpu_of(peer)
        ratios.append(a / b)
    print("\nverify, %d MB in %d files: CPU ratio to openssl dgst -sha256 %.2f (rounds: %s)" % (
        megabytes, len(files), statistics.median(ratios), " ".join("%.2f" % r for r in ratios)))
    return report([("verify CPU / openssl dgst", statistics.median(ratios), 1.2)])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bindir")
    ap.add_argument("--files", type=int, default=200_000)
    ap.add_argument("--folders", type=int, default=14_000)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--million", action="store_true", help="also 1,000,000 files in 70,000 folders")
    ap.add_argument("--hash-mb", type=int, default=512)
    a = ap.parse_args()
    for tool in ("plocate", "updatedb", "sqlite3", "openssl"):
        if shutil.which(tool) is None:
            sys.exit("%s is missing: scripts/install-deps.sh bench" % tool)
    os.makedirs(WORK, exist_ok=True)
    ok = tree_bench(a.bindir, a.files, a.folders, a.rounds)
    if a.million:
        ok &= tree_bench(a.bindir, 1_000_000, 70_000, max(3, a.rounds // 2))
    if a.hash_mb:
        ok &= verify_bench(a.bindir, a.hash_mb, a.rounds)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
