#!/usr/bin/env python3
"""catalog diff --json and catalog verify --json against the shipped schema
(Resource/treelan-catalog-diff.schema.json), read by python3-jsonschema: every kind of change, names that
are not UTF-8, and the summary line.

Usage: test_catalog_schema.py TREELAN_CLI RESOURCE_DIR TEST_DATA_DIR"""

import json
import os
import shutil
import subprocess
import tempfile
import unittest
import urllib.parse

import clientlib


def catalog(db, *args):
    return subprocess.run([clientlib.CLI, "catalog"] + list(args) + ["--db", db], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)


class DiffSchema(unittest.TestCase):
    def setUp(self):
        import jsonschema

        with open(os.path.join(clientlib.RESOURCES, "treelan-catalog-diff.schema.json"), "rb") as f:
            self.schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(self.schema)
        self.validator = jsonschema.Draft202012Validator(self.schema)
        self.tmp = tempfile.mkdtemp(prefix="treelan-catalog-")
        self.root = os.path.join(self.tmp, "tree")
        self.db = os.path.join(self.tmp, "c.db")
        files = {b"keep.txt": b"k", b"mod.txt": b"abc", b"gone.txt": b"g", b"move.bin": b"m" * 777,
                 b"type.x": b"t", b"bad\xff.txt": b"raw", b"dir/a": b"aa", b"dir/b": b"bbb"}
        for rel, data in files.items():
            path = os.path.join(os.fsencode(self.root), rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (1_000_000_000, 1_000_000_000))
        os.makedirs(os.path.join(self.root, "sub"))

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def lines(self, result, status):
        self.assertEqual(result.returncode, status, result.stderr.decode(errors="replace"))
        out = [json.loads(line) for line in result.stdout.decode().splitlines()]
        for obj in out:
            errors = sorted(self.validator.iter_errors(obj), key=str)
            self.assertEqual([], ["%s in %s" % (e.message, obj) for e in errors[:3]])
        self.assertIn("summary", out[-1])
        self.assertEqual(out[-1]["summary"]["status"], status)
        return out[:-1]

    def test_every_change_validates(self):
        add = ["add", "-q", "--hash", "sha256", self.root]
        self.assertEqual(catalog(self.db, *add).returncode, 0)
        r = os.fsencode(self.root)
        with open(os.path.join(r, b"mod.txt"), "ab") as f:
            f.write(b"d")
        os.utime(os.path.join(r, b"keep.txt"), (1_000_000_000, 1_000_086_400))
        os.remove(os.path.join(r, b"gone.txt"))
        os.rename(os.path.join(r, b"move.bin"), os.path.join(r, b"sub/moved.bin"))
        os.rename(os.path.join(r, b"dir"), os.path.join(r, b"sub/dir"))
        os.remove(os.path.join(r, b"type.x"))
        os.mkdir(os.path.join(r, b"type.x"))
        os.rename(os.path.join(r, b"bad\xff.txt"), os.path.join(r, b"sub/bad\xfe.txt"))
        with open(os.path.join(r, b"new\xe9.txt"), "wb") as f:
            f.write(b"new")
        self.assertEqual(catalog(self.db, *add).returncode, 0)

        changes = self.lines(catalog(self.db, "diff", "--json", "1", "2"), 1)
        ops = sorted(c["op"] for c in changes)
        self.assertEqual(ops, sorted(["M", "U", "-", ">", ">", ">", "T", "+"]))
        paths = {urllib.parse.unquote_to_bytes(c["rawPath"]) if "rawPath" in c else c["path"].encode()
                 for c in changes}
        self.assertIn(b"new\xe9.txt", paths)
        self.assertIn(b"sub/bad\xfe.txt", paths)
        for mode in (["1", self.root], ["2", self.root]):
            self.lines(catalog(self.db, "diff", "--json", *mode), 1 if mode[0] == "1" else 0)
        self.lines(catalog(self.db, "verify", "--json", "2"), 0)

    def test_not_compared_validates(self):
        if os.geteuid() == 0:
            self.skipTest("permissions do not stop root; the catalogue's own tests drop them")
        self.assertEqual(catalog(self.db, "add", "-q", self.root).returncode, 0)
        os.chmod(os.path.join(self.root, "dir"), 0)
        try:
            changes = self.lines(catalog(self.db, "diff", "--json", "1", self.root), 2)
        finally:
            os.chmod(os.path.join(self.root, "dir"), 0o755)
        self.assertEqual([c["op"] for c in changes], ["!"])


if __name__ == "__main__":
    clientlib.main()
