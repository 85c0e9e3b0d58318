#!/usr/bin/env python3
"""The shell completions of treelan-cli against the program's own --help: bash and fish are asked
for their candidates as a shell would ask them, and must offer exactly the options --help lists, the
values it names, and the template names of the Resource folder in use. The zsh file must name every
option (zsh cannot be driven without a terminal).

Usage: test_completions.py TREELAN_CLI SOURCE_DIR"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

CLI = SOURCE = None


def completions_file(name):
    return os.path.join(SOURCE, "packaging", "completions", name)


def run(args, **kwargs):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s failed (exit %d): %s" % (args[0], result.returncode, result.stderr))
    return result.stdout


def help_text():
    return run([CLI, "--help"])


def help_options():
    """Every option that --help lists, short and long."""
    found = set()
    for short, long in re.findall(r"(?m)^\s+(?:(-\w), )?(--[a-z][a-z0-9-]*)", help_text()):
        found.add(long)
        if short:
            found.add(short)
    return found


def catalog_help():
    """The verbs of `catalog --help` with the options each lists (the prose line that names the walk's
    filters included), and the options of every verb."""
    text = run([CLI, "catalog", "--help"])
    head, _, every = text.partition("Options of every verb:")
    verbs, verb, prose = {}, None, False
    for line in head.splitlines():
        named = re.match(r"^  ([a-z]+)\b", line)
        if named:
            verb, prose = named.group(1), False
            verbs[verb] = set()
        elif verb:
            prose = line.strip().startswith("and ") or (prose and line.rstrip().endswith(","))
            if prose or line.strip().startswith("and ") or re.match(r"^\s+--[a-z-]+,", line):
                verbs[verb] |= set(re.findall(r"--[a-z][a-z0-9-]*", line))
            else:
                option = re.match(r"^\s+(?:(-\w), )?(--[a-z][a-z0-9-]*|-\d)\b", line)
                if option:
                    verbs[verb] |= {o for o in option.groups() if o}
    common = set(re.findall(r"(?m)^\s+(?:(-\w), )?(--[a-z][a-z0-9-]*)", every.split("\n\n")[0]))
    return verbs, {o for pair in common for o in pair if o}


def help_values(option):
    """The choices that --help gives for OPTION: written as "a | b | c", or one per line below it."""
    listed = re.search(r"(?m)^\s+(?:-\w, )?%s [A-Z]+ .*:\n((?:\s{20,}\S.*\n)+)" % re.escape(option), help_text())
    if listed:
        return {m.group(1) for m in re.finditer(r"(?m)^\s+(\w+)  ", listed.group(1))}
    match = re.search(r"(?m)^\s+(?:-\w, )?%s [A-Z]+\s+(\w+(?: \| \w+)+)" % re.escape(option), help_text())
    if not match:
        raise AssertionError("--help names no choices for " + option)
    return set(match.group(1).split(" | "))


def help_columns():
    match = re.search(r"out of ([a-zA-Z]+(?:,\s*[a-zA-Z]+)+)", help_text())
    if not match:
        raise AssertionError("--help names no columns")
    return re.sub(r"\s+", "", match.group(1)).split(",")


def shell_env():
    env = dict(os.environ)
    env["PATH"] = os.path.dirname(CLI) + os.pathsep + env.get("PATH", "")
    env["HOME"] = tempfile.gettempdir()
    return env


def bash_candidates(words):
    """What bash offers after `treelan-cli WORDS...`, the last word being the one completed."""
    bash_completion = "/usr/share/bash-completion/bash_completion"
    if not os.path.exists(bash_completion):
        raise AssertionError("bash-completion is missing: install the Debian package bash-completion")
    script = (
        'source %s; source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); '
        'COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}; _treelan_cli; printf "%%s\\n" "${COMPREPLY[@]}"'
        % bash_completion
    )
    out = run(["bash", "-c", script, "bash", completions_file("treelan-cli.bash"), "treelan-cli"] + words,
              env=shell_env(), cwd=tempfile.gettempdir())
    return {line for line in out.splitlines() if line}


def fish_candidates(words):
    fish = shutil.which("fish")
    if fish is None:
        raise AssertionError("fish is missing: install the Debian package fish")
    line = " ".join(["treelan-cli"] + words)
    out = run([fish, "--no-config", "-c", 'source $argv[1]; complete -C $argv[2]',
               completions_file("treelan-cli.fish"), line], env=shell_env(), cwd=tempfile.gettempdir())
    return {entry.split("\t")[0] for entry in out.splitlines() if entry}


SHELLS = {"bash": bash_candidates, "fish": fish_candidates}


class Options(unittest.TestCase):
    def test_every_option_of_help_and_no_other(self):
        expected = help_options()
        self.assertIn("--recursive", expected, "--help parsing found no options")
        for shell, candidates in SHELLS.items():
            with self.subTest(shell=shell):
                offered = set()
                for words in (["-"], ["export", "-"], ["list", "-"]):
                    offered |= {c for c in candidates(words) if c.startswith("-")}
                self.assertEqual(offered, expected, shell + ": options that --help and completion disagree on")

    def test_catalog_verbs_options_of_help_and_no_other(self):
        verbs, common = catalog_help()
        self.assertIn("search", verbs, "catalog --help parsing found no verbs")
        self.assertIn("--db", common)
        for shell, candidates in SHELLS.items():
            exporting = {c for c in candidates(["export", "-"]) if c.startswith("-")}
            for verb, options in verbs.items():
                with self.subTest(shell=shell, verb=verb):
                    expected = options | common | (exporting if verb == "export" else set())
                    offered = {c for c in candidates(["catalog", verb, "-"]) if c.startswith("-")}
                    self.assertEqual(offered, expected)

    def test_zsh_names_every_option(self):
        with open(completions_file("_treelan-cli")) as f:
            text = f.read()
        verbs, common = catalog_help()
        every = help_options() | common | set().union(*verbs.values())
        missing = {o for o in every if not re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(o), text)}
        self.assertEqual(missing, set(), "options of --help that the zsh completion leaves out")

    def test_zsh_file_parses(self):
        zsh = shutil.which("zsh")
        if zsh is None:
            self.fail("zsh is missing: install the Debian package zsh")
        run([zsh, "-n", completions_file("_treelan-cli")])


class Values(unittest.TestCase):
    def setUp(self):
        resources = os.path.join(os.path.dirname(CLI), "Resource")
        self.templates = {n[:-4] for n in os.listdir(resources) if n.endswith(".xsl")}
        self.other = tempfile.TemporaryDirectory()
        for name in ("alpha.xsl", "beta.xsl", "notes.txt"):
            open(os.path.join(self.other.name, name), "w").close()

    def tearDown(self):
        self.other.cleanup()

    def rows(self):
        """(name, words after the command name, the candidates expected)"""
        return [
            ("commands", [""], {"export", "list", "catalog"}),
            ("catalog verbs", ["catalog", ""], set(catalog_help()[0])),
            ("catalog hash", ["catalog", "add", "--hash", ""], {"sha256"}),
            ("catalog export formats", ["catalog", "export", "-f", ""], help_values("--format")),
            ("formats", ["export", "--format", ""], help_values("--format")),
            ("formats after -f", ["export", "-r", "-f", ""], help_values("--format")),
            ("formats by prefix", ["export", "--format", "x"], {v for v in help_values("--format") if v[0] == "x"}),
            ("sort keys", ["list", "--sort", ""], help_values("--sort")),
            ("templates of the Resource folder beside the program", ["export", "--template", ""], self.templates),
            ("templates after -t", ["export", "-f", "xslt", "-t", ""], self.templates),
            ("templates of --resources", ["export", "--resources", self.other.name, "--template", ""],
             {"alpha", "beta"}),
            ("second column after a comma", ["list", "--columns", help_columns()[0] + ","],
             {help_columns()[0] + "," + c for c in help_columns()}),
        ]

    def test_values(self):
        self.assertTrue(self.templates, "no .xsl template beside the program")
        for name, words, expected in self.rows():
            for shell, candidates in SHELLS.items():
                with self.subTest(row=name, shell=shell):
                    offered = {c for c in candidates(words) if not c.startswith("-")}
                    self.assertEqual(offered, expected)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.stderr.write(__doc__.splitlines()[-1] + "\n")
        sys.exit(2)
    CLI, SOURCE = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=[sys.argv[0], "-v"])
