#!/usr/bin/env python3
"""The window's event loop, timed from outside on a real X display (Xvfb, not offscreen).

    event_probe.py BIN_DIR [--files N] [--runs R] [--case scan|scanfilter|typing|catalog|all]
                   [--scan-seconds S]

Each run starts the program under Xvfb on a folder of N files (bench/make_tree.py --flat, made
once under $TREELAN_BENCH_DIR) and runs ping-probe.py beside it, which sends _NET_WM_PING every
10 ms and times the replies Qt sends from its event loop: the worst reply is the longest the
window's thread was blocked. Cases:
  scan     while the window lists the N files at start (and sorts them)
  scanfilter  the same with a pattern typed into the filter box as the window appears: the rows
           are matched as they arrive
  typing   while a pattern is typed into the filter box over the N rows, key by key, changed and
           cleared
  catalog  while a catalogue search fills the catalogue window's list (to come with that window:
           the place is case_catalog below)
Prints each run's figures and the worst of the runs per case; fails when one passes 50 ms.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WORK = os.environ.get("TREELAN_BENCH_DIR", "/tmp/treelan-bench")
PROBE = os.environ.get("PING_PROBE", os.path.join(HERE, "..", "..", "shared", "tools", "ping-probe.py"))
LIMIT_MS = 50.0


class Display:
    """Xvfb on a free display number, and the program on it, both ended on leaving."""

    def __init__(self, program, folder):
        self.program, self.folder = program, folder

    def __enter__(self):
        number = 99
        while os.path.exists("/tmp/.X%d-lock" % number) or os.path.exists("/tmp/.X11-unix/X%d" % number):
            number += 1
        self.env = dict(os.environ, DISPLAY=":%d" % number, QT_QPA_PLATFORM="xcb")
        self.xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if self.xdotool("getdisplaygeometry", check=False):
                break
            time.sleep(0.1)
        # Settings and runtime files of this run alone: the person's own stay untouched.
        self.home = tempfile.mkdtemp(prefix="treelan-probe-")
        os.chmod(self.home, 0o700)
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=self.home, XDG_RUNTIME_DIR=self.home)
        self.app = subprocess.Popen([self.program, self.folder], env=self.env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = None
        for _ in range(1200):
            found = self.xdotool("search", "--onlyvisible", "--pid", str(self.app.pid), check=False)
            if found:
                self.window = int(found.split()[0])
                break
            time.sleep(0.05)
        if self.window is None:
            raise SystemExit("no window appeared")
        return self

    def __exit__(self, *exc):
        for p in (self.app, self.xvfb):
            p.terminate()
            p.wait()
        shutil.rmtree(self.home, ignore_errors=True)

    def xdotool(self, *args, check=True):
        p = subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True, text=True)
        if check and p.returncode != 0:
            raise SystemExit("xdotool %s failed: %s" % (" ".join(args), p.stderr))
        return p.stdout.strip() if p.returncode == 0 else ""

    def probe(self, seconds):
        """Starts ping-probe.py on the window; returns the process (its output: the figures)."""
        return subprocess.Popen(["/usr/bin/python3", PROBE, str(self.window), str(seconds)], env=self.env,
                                stdout=subprocess.PIPE, text=True)


def worst(output):
    m = re.search(r"worst ([0-9.]+) ms", output)
    if not m:
        raise SystemExit("ping-probe gave no figures: " + output)
    return float(m.group(1))


def case_scan(program, folder, seconds):
    with Display(program, folder) as d:
        out = d.probe(seconds).communicate()[0]
    return out


def case_scanfilter(program, folder, seconds):
    with Display(program, folder) as d:
        probe = d.probe(seconds)
        d.xdotool("windowfocus", "--sync", str(d.window))
        d.xdotool("key", "--window", str(d.window), "ctrl+f")
        d.xdotool("type", "--delay", "150", "*7*.mp3")
        out = probe.communicate()[0]
    return out


def case_typing(program, folder, seconds):
    with Display(program, folder) as d:
        # The listing first, unprobed; then the keys, one every 150 ms, as a quick typist.
        time.sleep(seconds)
        probe = d.probe(14)
        time.sleep(0.5)
        d.xdotool("windowfocus", "--sync", str(d.window))
        d.xdotool("key", "--window", str(d.window), "ctrl+f")
        for text in ["file 12", "BackSpace BackSpace", "*.mp3", "Escape", "f:file 0*9", "Escape"]:
            if text[0].isupper():
                d.xdotool("key", "--delay", "150", *text.split())
            else:
                d.xdotool("type", "--delay", "150", text)
            time.sleep(1)
        out = probe.communicate()[0]
    return out


def case_catalog(program, folder, seconds):
    # The catalogue window fills its list from a search over the whole catalogue: its case goes
    # here, with the window that shows it.
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("bin_dir")
    ap.add_argument("--files", type=int, default=1_000_000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--case", default="all", choices=["scan", "scanfilter", "typing", "catalog", "all"])
    ap.add_argument("--scan-seconds", type=float, default=25,
                    help="how long the listing at start takes (and is probed)")
    a = ap.parse_args()
    for tool in ("Xvfb", "xdotool"):
        if not shutil.which(tool):
            raise SystemExit("%s is missing (scripts/install-deps.sh shots)" % tool)
    program = os.path.join(a.bin_dir, "treelan")
    folder = os.path.join(WORK, "flat-%d" % a.files)
    if not os.path.isdir(folder):
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), folder, "--flat",
                        "--files", str(a.files)], check=True)
    cases = {"scan": case_scan, "scanfilter": case_scanfilter, "typing": case_typing,
             "catalog": case_catalog}
    ok = True
    for name in (cases if a.case == "all" else [a.case]):
        results = []
        for run in range(a.runs):
            out = cases[name](program, folder, a.scan_seconds)
            if out is None:
                print("%-8s not measured here" % name)
                break
            print("%-8s run %d: %s" % (name, run + 1, out.strip().replace("\n", "\n" + " " * 16)))
            results.append(worst(out))
        if results:
            w = max(results)
            ok &= w <= LIMIT_MS
            print("%-8s worst of %d runs: %.1f ms  %s" % (name, len(results), w, "ok" if w <= LIMIT_MS else "SLOW"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
