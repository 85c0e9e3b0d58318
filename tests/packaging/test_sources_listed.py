#!/usr/bin/env python3
"""The CMake source lists are written out by hand, so a file added without its line would silently
stay out of the build (a test) or out of the library until some caller links it. Every source file
of the code folders must be named in CMakeLists.txt, and every test file must be a registered test.

Usage: test_sources_listed.py SOURCE_DIR BUILD_DIR"""

import os
import re
import subprocess
import sys
import unittest

SOURCE = BUILD = None
CODE_FOLDERS = ("platform", "codec", "media", "listing", "export", "settings", "ui")


def files(folder, pattern):
    top = os.path.join(SOURCE, folder)
    for here, _, names in os.walk(top):
        for name in names:
            if re.fullmatch(pattern, name):
                yield os.path.relpath(os.path.join(here, name), SOURCE)


class Listed(unittest.TestCase):
    def test_code_files_are_in_the_source_lists(self):
        with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
            listed = set(re.split(r"[\s()]+", f.read()))
        for folder in CODE_FOLDERS:
            with self.subTest(folder=folder):
                missing = [p for p in files(folder, r".+\.(cpp|h|qrc)") if p not in listed]
                self.assertEqual(missing, [], "add these to CMakeLists.txt")

    def test_test_files_are_registered_tests(self):
        out = subprocess.run(["ctest", "-N"], cwd=BUILD, stdout=subprocess.PIPE, text=True, check=True).stdout
        registered = set(re.findall(r"Test\s+#\d+: (\S+)", out))
        rows = [
            ("Qt Test executables", [p for folder in os.listdir(os.path.join(SOURCE, "tests"))
                                     for p in files(os.path.join("tests", folder), r"tst_\w+\.cpp")],
             lambda p: os.path.basename(p)[:-4]),
            ("client checks", list(files("tests/clients", r"test_\w+\.py")),
             lambda p: "clients_" + os.path.basename(p)[:-3]),
        ]
        for name, paths, test_name in rows:
            with self.subTest(row=name):
                self.assertTrue(paths, "no files found")
                missing = [p for p in paths if test_name(p) not in registered]
                self.assertEqual(missing, [], "add these to tests/CMakeLists.txt")


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.stderr.write(__doc__.splitlines()[-1] + "\n")
        sys.exit(2)
    SOURCE, BUILD = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=[sys.argv[0], "-v"])
