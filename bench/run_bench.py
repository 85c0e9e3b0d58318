#!/usr/bin/env python3
"""Export and listing benchmarks: treelan against GNU tree, find and ncdu on the same generated tree, same run.

    run_bench.py BIN_DIR [--files N] [--folders M] [--runs R] [--million] [--mp3 K]
                 [--only export|list|mp3|flat]

Warm cache (one untimed run each first), best of R wall times, peak RSS per process.
"""
import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WORK = os.environ.get("TREELAN_BENCH_DIR", "/tmp/treelan-bench")


def run(cmd, stdout_path):
    # GNU time reports the peak memory: a child's own ru_maxrss would include the Python
    # interpreter that it was forked from.
    with open(stdout_path, "wb") as out:
        start = time.perf_counter()
        p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=out, stderr=subprocess.PIPE)
        wall = time.perf_counter() - start
    err = p.stderr.decode(errors="replace")
    if p.returncode != 0:
        sys.exit("%s failed (%d): %s" % (cmd[0], p.returncode, err))
    return wall, int(err.strip().splitlines()[-1]) / 1024.0  # MiB


def report(checks):
    """Prints each (label, value, limit) against its limit; True when all are within."""
    ok = True
    for label, value, limit in checks:
        good = value <= limit
        ok &= good
        print("  %-20s %8.3f  (limit %g) %s" % (label, value, limit, "ok" if good else "OVER"))
    return ok


def best(cmd, out, runs):
    run(cmd, out)  # warm the cache
    results = [run(cmd, out) for _ in range(runs)]
    return min(r[0] for r in results), max(r[1] for r in results)


def ensure_tree(files, folders):
    path = os.path.join(WORK, "tree-%d" % files)
    if not os.path.isdir(path):
        print("generating %s ..." % path, flush=True)
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), path,
                        "--files", str(files), "--folders", str(folders)], check=True)
    return path


def export_bench(bindir, files, folders, runs):
    tree_dir = ensure_tree(files, folders)
    cli = os.path.join(bindir, "treelan-cli")
    out = os.path.join(WORK, "out")
    cases = {
        "treelan xml": [cli, "export", "-r", "-q", "-f", "xml", tree_dir, "-"],
        "treelan mht": [cli, "export", "-r", "-q", "-f", "mht", tree_dir, "-"],
        "treelan json": [cli, "export", "-r", "-q", "-f", "json", tree_dir, "-"],
        "treelan csv": [cli, "export", "-r", "-q", "-f", "csv", tree_dir, "-"],
        "treelan ncdu": [cli, "export", "-r", "-q", "-f", "ncdu", tree_dir, "-"],
        "tree -X": ["tree", "-X", "-a", "-s", "-D", "--noreport", tree_dir],
        "find -printf": ["find", tree_dir, "-printf", "%s %T@ %P\\n"],
        "ncdu -0 -o": ["ncdu", "-0", "-o", "-", tree_dir],
    }
    res = {name: best(cmd, out, runs) for name, cmd in cases.items()}
    print("\n%d files, %d folders requested (best of %d, warm cache)" % (files, folders, runs))
    for name, (wall, rss) in res.items():
        print("  %-14s %7.3f s  peak %6.1f MiB" % (name, wall, rss))
    x, m, t, f = (res[k][0] for k in ("treelan xml", "treelan mht", "tree -X", "find -printf"))
    checks = [
        ("xml / tree -X", x / t, 0.8),
        ("xml / find", x / f, 1.2),
        ("mht / xml", m / x, 1.1),
        ("xml peak MiB", res["treelan xml"][1], 64),
        ("mht peak MiB", res["treelan mht"][1], 64),
        ("json / find", res["treelan json"][0] / f, 1.0),
        ("csv / find", res["treelan csv"][0] / f, 1.0),
        ("ncdu / ncdu -0 -o", res["treelan ncdu"][0] / res["ncdu -0 -o"][0], 1.0),
        ("json peak MiB", res["treelan json"][1], 20),
        ("csv peak MiB", res["treelan csv"][1], 20),
    ]
    return report(checks)


def flat_bench(bindir, files, runs):
    """One folder of FILES files: every export format within 64 MiB, however large the folder."""
    tree_dir = os.path.join(WORK, "flat-%d" % files)
    if not os.path.isdir(tree_dir):
        print("generating %s ..." % tree_dir, flush=True)
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), tree_dir,
                        "--files", str(files), "--flat"], check=True)
    cli = os.path.join(bindir, "treelan-cli")
    out = os.path.join(WORK, "out")
    cases = {"treelan " + f: [cli, "export", "-r", "-q", "-f", f, tree_dir, out + "." + f]
             for f in ("xml", "mht", "html", "json", "ncdu", "csv")}
    cases["find -printf"] = ["find", tree_dir, "-printf", "%s %T@ %P\\n"]
    res = {name: best(cmd, os.devnull if name.startswith("treelan") else out, runs)
           for name, cmd in cases.items()}
    print("\n%d files in one folder (best of %d, warm cache)" % (files, runs))
    for name, (wall, rss) in res.items():
        print("  %-14s %7.3f s  peak %6.1f MiB" % (name, wall, rss))
    return report([(name + " peak MiB", rss, 64) for name, (wall, rss) in res.items()
                   if name.startswith("treelan")])


def list_bench(bindir, files, folders, runs):
    tree_dir = ensure_tree(files, folders)
    out = os.path.join(WORK, "out")
    model = []
    for _ in range(runs):
        r = subprocess.run([os.path.join(bindir, "bench_list"), tree_dir], check=True,
                           capture_output=True, text=True)
        model.append(dict(line.rsplit(" ", 1) if not line.endswith(" s") else
                          (line[:-2].rsplit(" ", 1)) for line in r.stdout.splitlines()))
    refresh = min(float(m["refresh"]) for m in model)
    per_row = max(float(m["rss_per_row"]) for m in model)
    heap_row = max(float(m["heap_per_row"]) for m in model)
    sort = max(float(m["slowest_sort"]) for m in model)
    cli, cli_rss = best([os.path.join(bindir, "treelan-cli"), "list", "-r", tree_dir], out, runs)
    find, _ = best(["find", tree_dir, "-printf", "%s %T@ %P\\n"], out, runs)
    print("\nListing %s (%s rows; best of %d, warm cache)" % (tree_dir, model[0]["rows"], runs))
    print("  refresh into the model %7.3f s" % refresh)
    print("  treelan-cli list -r    %7.3f s  peak %6.1f MiB" % (cli, cli_rss))
    print("  find -printf           %7.3f s" % find)
    checks = [
        ("refresh / find", refresh / find, 1.5),
        ("cli list / find", cli / find, 1.5),
        ("model B/row (RSS)", per_row, 256),
        ("model B/row (heap)", heap_row, 256),
        ("slowest sort s", sort, 0.3),
    ]
    return report(checks)


def mp3_bench(bindir, count):
    path = os.path.join(WORK, "mp3-%d" % count)
    if not os.path.isdir(path):
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), path, "--mp3", str(count)],
                       check=True)
    r = subprocess.run([os.path.join(bindir, "bench_mp3read"), path], check=True,
                       capture_output=True, text=True)
    print("\n" + r.stdout.strip())
    return "OVER" not in r.stdout


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bindir")
    ap.add_argument("--files", type=int, default=200_000)
    ap.add_argument("--folders", type=int, default=14_000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--million", action="store_true", help="also 1,000,000 files in 70,000 folders")
    ap.add_argument("--mp3", type=int, default=2000)
    ap.add_argument("--only", choices=["export", "list", "mp3", "flat"], help="run one part only")
    ap.add_argument("--flat", type=int, default=300_000, help="files of the one-folder tree")
    a = ap.parse_args()
    os.makedirs(WORK, exist_ok=True)
    ok = True
    if a.only in (None, "export"):
        ok &= export_bench(a.bindir, a.files, a.folders, a.runs)
    if a.only in (None, "list"):
        ok &= list_bench(a.bindir, a.files, a.folders, a.runs)
    if a.only in (None, "flat"):
        ok &= flat_bench(a.bindir, a.flat, a.runs)
    if a.only is not None and a.only != "mp3":
        sys.exit(0 if ok else 1)
    if a.million:
        ok &= export_bench(a.bindir, 1_000_000, 70_000, a.runs)
    if a.mp3 and a.only in (None, "mp3"):
        ok &= mp3_bench(a.bindir, a.mp3)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
