#!/usr/bin/env python3
"""The Debian package as a user gets it: unpacked into a temporary root, it holds every file a desktop
and a shell look for, its programs are stripped and declare the libraries they load, and the unpacked
programs run and find their Resource folder under share/treelan, as installed ones do under /usr.

Usage: test_package.py PACKAGE.deb VERSION SOURCE_DIR"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

DEB = VERSION = SOURCE = None
APP_ID = "org.treelan.treelan"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def run(args, **kwargs):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s failed (exit %d): %s" % (" ".join(args), result.returncode,
                                                           result.stderr.decode(errors="replace")))
    return result


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.TemporaryDirectory()
        run(["dpkg-deb", "-x", DEB, cls.root.name])
        cls.fields = {}
        for line in run(["dpkg-deb", "-f", DEB]).stdout.decode().splitlines():
            if ":" in line and not line.startswith(" "):
                key, value = line.split(":", 1)
                cls.fields[key] = value.strip()

    @classmethod
    def tearDownClass(cls):
        cls.root.cleanup()

    def path(self, relative):
        return os.path.join(self.root.name, relative)

    def test_files_where_a_desktop_and_a_shell_look(self):
        resources = sorted(n for n in os.listdir(os.path.join(SOURCE, "Resource")) if not n.startswith("."))
        rows = [
            ("programs", ["usr/bin/treelan", "usr/bin/treelan-cli"]),
            ("resources", ["usr/share/treelan/Resource/" + n for n in resources]),
            ("man pages", ["usr/share/man/man1/treelan.1.gz", "usr/share/man/man1/treelan-cli.1.gz"]),
            ("documentation", ["usr/share/doc/treelan/copyright", "usr/share/doc/treelan/changelog.gz"]),
            ("desktop entry", ["usr/share/applications/%s.desktop" % APP_ID]),
            ("AppStream metadata", ["usr/share/metainfo/%s.metainfo.xml" % APP_ID]),
            ("icons", ["usr/share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, APP_ID) for s in ICON_SIZES]
             + ["usr/share/icons/hicolor/scalable/apps/%s.svg" % APP_ID]),
            ("completions", ["usr/share/bash-completion/completions/treelan-cli",
                             "usr/share/zsh/vendor-completions/_treelan-cli",
                             "usr/share/fish/vendor_completions.d/treelan-cli.fish"]),
        ]
        for name, paths in rows:
            with self.subTest(row=name):
                self.assertEqual([p for p in paths if not os.path.isfile(self.path(p))], [], "missing")

    def test_icons_have_the_size_of_their_folder(self):
        for size in ICON_SIZES:
            with self.subTest(size=size):
                with open(self.path("usr/share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, APP_ID)), "rb") as f:
                    head = f.read(24)
                self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
                self.assertEqual(struct.unpack(">II", head[16:24]), (size, size))

    def test_control_fields(self):
        rows = [
            ("name", "Package", r"^treelan$"),
            ("version of the project", "Version", "^%s$" % re.escape(VERSION)),
            ("C library, versioned by dpkg-shlibdeps", "Depends", r"(^|, )libc6 \(>= [0-9.]+\)"),
            ("Qt Core library, versioned", "Depends", r"(^|, )libqt6core6 \(>= [0-9.]+\)"),
            ("widgets library for the window", "Depends", r"(^|, )libqt6widgets6 \(>= [0-9.]+\)"),
            ("synopsis", "Description", r"^[a-z].{10,78}$"),
            ("section", "Section", r"^utils$"),
        ]
        for name, field, pattern in rows:
            with self.subTest(row=name):
                self.assertRegex(self.fields.get(field, ""), pattern)

    def test_programs_are_stripped(self):
        if shutil.which("file") is None:
            self.fail("file is missing: install the Debian package file")
        for program in ("treelan", "treelan-cli"):
            with self.subTest(program=program):
                described = run(["file", "-b", self.path("usr/bin/" + program)]).stdout.decode()
                self.assertIn("ELF", described)
                self.assertNotIn("not stripped", described)
                self.assertNotIn("debug_info", described)

    def test_unpacked_programs_run_with_the_installed_resources(self):
        cli = self.path("usr/bin/treelan-cli")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        with tempfile.TemporaryDirectory() as work:
            folder = os.path.join(work, "folder")
            os.makedirs(os.path.join(folder, "sub"))
            with open(os.path.join(folder, "sub", "a.txt"), "w") as f:
                f.write("a")
            rows = [
                ("cli version", [cli, "--version"], "treelan-cli %s\n" % VERSION),
                ("window program version", [self.path("usr/bin/treelan"), "--version"],
                 "treelan %s\n" % VERSION),
                ("web archive with the installed style sheet",
                 [cli, "export", "-q", "-r", folder, os.path.join(work, "out.mht")], None),
                ("template of the installed Resource folder",
                 [cli, "export", "-q", "-f", "xslt", "-t", "tree", folder, "-"], "tree.xsl"),
            ]
            for name, args, said in rows:
                with self.subTest(row=name):
                    out = run(args, env=env, cwd=work).stdout.decode()
                    if said is not None:
                        self.assertIn(said, out)
            with open(os.path.join(work, "out.mht"), "rb") as f:
                archive = f.read()
            with open(self.path("usr/share/treelan/Resource/tree.css"), "rb") as f:
                css = f.read()
            self.assertIn(css.splitlines()[0], archive, "the archive lacks the installed style sheet")


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.stderr.write(__doc__.splitlines()[-1] + "\n")
        sys.exit(2)
    DEB, VERSION, SOURCE = os.path.abspath(sys.argv[1]), sys.argv[2], os.path.abspath(sys.argv[3])
    unittest.main(argv=[sys.argv[0], "-v"])
