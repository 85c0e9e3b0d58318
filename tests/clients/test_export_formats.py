#!/usr/bin/env python3
"""Real clients over the machine-readable exports of one hostile fixture (clientlib.FormatTree):
Python's json and jsonschema take the JSON export and its shipped schema, ncdu and gdu load the
ncdu export, Python's csv reads the CSV and TSV exports. Each format is checked entry by entry
against the disk, read independently here."""

import csv
import datetime
import io
import json
import os
import re
import sys
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import clientlib  # noqa: E402

MP3_FIGURES = {"durationSeconds": 250, "bitrateKbps": 128, "vbr": False}

# Every way of leaving entries out at once, and what each leaves out of the fixture, decided here
# from the raw relative path: (option words, predicate over (path, is_folder)).
FILTERS = ("--exclude", "Music/", "--exclude", "tab\tname.txt", "--exclude-pattern", "*.bin",
           "--exclude-pattern", "caf?.txt", "--no-hidden", "--max-depth", "1")
LEFT_OUT = (
    lambda p, d: p == b"Music/" or p.startswith(b"Music/"),
    lambda p, d: p == b"tab\tname.txt",
    lambda p, d: not d and p.rsplit(b"/", 1)[-1].endswith(b".bin"),
    # "?" is one byte: the Latin-1 name matches, the two-byte UTF-8 one does not.
    lambda p, d: p.rsplit(b"/", 1)[-1] == b"caf\xe9.txt",
    lambda p, d: any(part.startswith(b".") for part in p.rstrip(b"/").split(b"/")),
    lambda p, d: p.rstrip(b"/").count(b"/") >= 2 or (not d and p.count(b"/") >= 2),
)


def iso(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def strict_json(data):
    """json.loads that refuses what RFC 8259 does not allow (NaN, Infinity, invalid UTF-8)."""

    def refuse(name):
        raise ValueError("not JSON: " + name)

    return json.loads(data.decode("utf-8"), parse_constant=refuse)


def ncdu_json(data):
    """ncdu's files carry names as raw bytes: read them losslessly."""
    return json.loads(data.decode("utf-8", "surrogateescape"))


def raw(text):
    return text.encode("utf-8", "surrogateescape")


class DiskTree:
    """What the fixture holds, read from the disk: files with sizes and MP3 seconds, and per folder
    the sums that a `du --apparent-size -b` style walk gives (files and their bytes, folders)."""

    def __init__(self, broot):
        self.files = {}
        self.folders = {b"": None}
        for top, dirs, files in os.walk(broot):
            rel = os.path.relpath(top, broot)
            rel = b"" if rel == b"." else rel + b"/"
            for d in dirs:
                self.folders[rel + d + b"/"] = None
            for f in files:
                self.files[rel + f] = os.lstat(os.path.join(top, f)).st_size
        for folder in self.folders:
            below = [p for p in self.files if p.startswith(folder)]
            self.folders[folder] = {
                "files": len(below),
                "folders": sum(1 for d in self.folders if d != folder and d.startswith(folder)),
                "bytes": sum(self.files[p] for p in below),
                "durationSeconds": 250 * sum(1 for p in below if p == clientlib.FORMAT_MP3),
            }


class Exports(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tree = clientlib.FormatTree().__enter__()
        cls.disk = DiskTree(cls.tree.broot)
        cls.data = {}
        cls.errors = {}
        for name, fmt, extra in (
            ("out.json", "json", ()),
            ("ncdu.json", "ncdu", ()),
            ("out.csv", "csv", ()),
            ("out.tsv", "tsv", ()),
            ("bom.csv", "csv", ("--bom",)),
            ("filtered.json", "json", FILTERS),
        ):
            try:
                cls.data[name] = clientlib.export(cls.tree.root, cls.tree.output(name), fmt, *extra)
            except AssertionError as error:
                cls.errors[name] = str(error)

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__(None, None, None)

    def exported(self, name):
        if name in self.errors:
            self.fail(self.errors[name])
        return self.data[name]

    # --- json ---------------------------------------------------------------------------------

    def json_entries(self):
        """Every entry of the JSON export by its raw relative path."""
        doc = strict_json(self.exported("out.json"))
        entries = {}

        def visit(entry):
            path = entry["path"]
            key = urllib.parse.unquote_to_bytes(entry["rawPath"]) if "rawPath" in entry else path.encode()
            self.assertNotIn(key, entries, "written twice")
            entries[key] = entry
            for child in entry.get("children", []):
                visit(child)

        visit(doc["root"])
        return doc, entries

    def test_json_validates_against_the_shipped_schema(self):
        import jsonschema

        with open(os.path.join(clientlib.RESOURCES, "treelan-export.schema.json"), "rb") as f:
            schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(schema)
        doc = strict_json(self.exported("out.json"))
        errors = sorted(jsonschema.Draft202012Validator(schema).iter_errors(doc), key=str)
        self.assertEqual([], ["%s at %s" % (e.message, list(e.absolute_path)) for e in errors[:5]])

    def test_json_header(self):
        doc, _ = self.json_entries()
        header = doc["header"]
        self.assertEqual(header["root"], self.tree.root + "/")
        self.assertEqual(header["options"]["recursive"], True)
        self.assertEqual(header["options"]["mp3"], True)
        self.assertEqual(iso(header["exportedEpoch"]), header["exported"])

    def test_json_entries_match_the_disk(self):
        _, entries = self.json_entries()
        self.assertEqual(sorted(entries), sorted(list(self.disk.files) + list(self.disk.folders)))
        for path, size in self.disk.files.items():
            name = path.rsplit(b"/", 1)[-1]
            with self.subTest(path=path):
                e = entries[path]
                self.assertEqual(e["name"], clientlib.decode_name(name))
                self.assertEqual(e["kind"], "file")
                self.assertEqual(e["size"], size)
                self.assertEqual((e["mtimeEpoch"], e["mtime"]), (clientlib.FORMAT_TIME, iso(clientlib.FORMAT_TIME)))
                valid = self.is_utf8(name)
                self.assertEqual("rawName" in e, not valid)
                if not valid:
                    self.assertEqual(urllib.parse.unquote_to_bytes(e["rawName"]), name)
                self.assertEqual(e.get("mp3"), MP3_FIGURES if path == clientlib.FORMAT_MP3 else None)

    def test_json_folders_carry_their_own_time(self):
        _, entries = self.json_entries()
        for folder in self.disk.folders:
            with self.subTest(folder=folder):
                self.assertEqual(entries[folder]["mtimeEpoch"], clientlib.FORMAT_TIME + 60)

    def test_json_filters_leave_out_what_they_name_and_say_so(self):
        import jsonschema

        with open(os.path.join(clientlib.RESOURCES, "treelan-export.schema.json"), "rb") as f:
            schema = json.load(f)
        doc = strict_json(self.exported("filtered.json"))
        self.assertEqual([], [e.message for e in jsonschema.Draft202012Validator(schema).iter_errors(doc)][:5])
        options = doc["header"]["options"]
        self.assertEqual(sorted(p["path"] for p in options["exclude"]), ["Music/", "tab\tname.txt"])
        self.assertEqual(options["excludePatterns"], ["*.bin", "caf?.txt"])
        self.assertEqual((options["noHidden"], options["maxDepth"]), (True, 1))
        written = set()

        def visit(entry):
            path = entry["path"]
            written.add(urllib.parse.unquote_to_bytes(entry["rawPath"]) if "rawPath" in entry else path.encode())
            for child in entry.get("children", []):
                visit(child)

        visit(doc["root"])
        everything = [(p, False) for p in self.disk.files] + [(p, True) for p in self.disk.folders]
        expected = {p for p, d in everything if p == b"" or not any(rule(p, d) for rule in LEFT_OUT)}
        self.assertGreater(len(expected), 5, "the filters leave too little to tell anything")
        self.assertEqual(sorted(written), sorted(expected))

    def test_json_folder_totals_are_the_sums_below(self):
        _, entries = self.json_entries()
        for folder, sums in self.disk.folders.items():
            with self.subTest(folder=folder):
                e = entries[folder]
                self.assertEqual(e["kind"], "folder")
                self.assertEqual(e["totals"], sums)

    @staticmethod
    def is_utf8(data):
        try:
            data.decode("utf-8")
            return True
        except UnicodeDecodeError:
            return False

    # --- ncdu ---------------------------------------------------------------------------------

    @staticmethod
    def ncdu_tree(doc, keys=("name", "asize", "mtime", "read_error", "notreg")):
        """The root entry of an ncdu export as nested (fields, sorted children)."""

        def node(item):
            if isinstance(item, list):
                own = {k: v for k, v in item[0].items() if k in keys}
                return (sorted(own.items()), sorted((node(c) for c in item[1:]), key=repr))
            return (sorted((k, v) for k, v in item.items() if k in keys), None)

        return node(doc[3])

    def test_ncdu_shape_and_names_match_the_disk(self):
        doc = ncdu_json(self.exported("ncdu.json"))
        self.assertEqual(doc[:2], [1, 2])
        self.assertEqual(doc[2]["progname"], "treelan")
        self.assertEqual(doc[3][0]["name"], self.tree.root)
        found = {}

        def visit(item, prefix):
            if isinstance(item, list):
                path = prefix + raw(item[0]["name"]) + b"/" if prefix is not None else b""
                found[path] = item[0]
                for child in item[1:]:
                    visit(child, path)
            else:
                found[prefix + raw(item["name"])] = item

        visit(doc[3], None)
        self.assertEqual(sorted(found), sorted(list(self.disk.files) + list(self.disk.folders)))
        for path, size in self.disk.files.items():
            with self.subTest(path=path):
                self.assertEqual(found[path].get("asize", 0), size)
                self.assertEqual(found[path]["mtime"], clientlib.FORMAT_TIME)
        mp3 = found[clientlib.FORMAT_MP3]
        self.assertEqual((mp3["mp3_duration"], mp3["mp3_bitrate"], mp3["mp3_vbr"]), (250, 128, False))

    def test_ncdu_reads_and_writes_the_same_tree(self):
        tool = clientlib.require_tool("ncdu")
        source = self.tree.output("ncdu.json")
        self.exported("ncdu.json")
        again = self.tree.output("ncdu-again.json")
        result = clientlib.run([tool, "-e", "-f", source, "-o", again], "ncdu -f")
        # Without a terminal ncdu still writes its progress line ("PATH  N files") now and then.
        complaints = [line for line in result.stderr.replace(b"\r", b"\n").splitlines()
                      if line.strip() and not re.search(rb"\s\d+ files$", line)]
        self.assertEqual(complaints, [], "ncdu complained")
        with open(again, "rb") as f:
            reread = ncdu_json(f.read())
        self.assertEqual(reread[2]["progname"], "ncdu")
        self.assertEqual(self.ncdu_tree(reread), self.ncdu_tree(ncdu_json(self.exported("ncdu.json"))))

    def test_gdu_loads_it(self):
        tool = clientlib.require_tool("gdu")
        self.exported("ncdu.json")
        result = clientlib.run(
            [tool, "-n", "-p", "-a", "--no-prefix", "-f", self.tree.output("ncdu.json")], "gdu -f"
        )
        listed = result.stdout.decode("utf-8", "replace")
        # Top-level files with names that stay on one line, as "SIZE NAME"; folders as "/NAME"
        # with at least the bytes of their files.
        for path, size in self.disk.files.items():
            if b"/" in path or not self.is_utf8(path) or re.search(rb"[\r\n]", path):
                continue
            with self.subTest(path=path):
                self.assertRegex(listed, r"(?m)^\s*%d %s$" % (size, re.escape(path.decode())))
        for folder, sums in self.disk.folders.items():
            if folder.count(b"/") != 1 or not self.is_utf8(folder):
                continue
            with self.subTest(folder=folder):
                match = re.search(r"(?m)^\s*(\d+) /%s$" % re.escape(folder[:-1].decode()), listed)
                self.assertIsNotNone(match, listed)
                self.assertGreaterEqual(int(match.group(1)), sums["bytes"])

    # --- csv and tsv --------------------------------------------------------------------------

    HEADER = ["path", "folder", "name", "size", "modified", "duration", "bitrate", "type"]

    @staticmethod
    def unguard(cell):
        """Undoes the formula guard: a guarded cell has one more apostrophe in front."""
        return cell[1:] if cell[:1] == "'" else cell

    def rows(self, name, delimiter, encoding="utf-8"):
        text = self.exported(name).decode(encoding)
        reader = csv.reader(io.StringIO(text, newline=""), delimiter=delimiter, strict=True)
        rows = list(reader)
        self.assertEqual(rows[0], self.HEADER)
        return rows[1:]

    def check_rows(self, rows):
        by_path = {}
        for row in rows:
            self.assertEqual(len(row), len(self.HEADER), row)
            for cell in (row[0], row[1], row[2], row[7]):
                if cell[:1] in ("=", "+", "-", "@", "\t", "\r"):
                    self.fail("unguarded formula cell %r" % cell)
            by_path[self.unguard(row[0])] = row
        expected = {clientlib.decode_name(p): p for p in self.disk.files}
        self.assertEqual(sorted(by_path), sorted(expected))
        for text, path in expected.items():
            with self.subTest(path=path):
                row = by_path[text]
                folder, _, name = path.rpartition(b"/")
                self.assertEqual(self.unguard(row[2]), clientlib.decode_name(name))
                self.assertEqual(self.unguard(row[1]), clientlib.decode_name(folder + b"/" if folder else b""))
                self.assertEqual(int(row[3]), self.disk.files[path])
                self.assertEqual(row[4], iso(clientlib.FORMAT_TIME))
                mp3 = path == clientlib.FORMAT_MP3
                self.assertEqual(row[5:7], ["250", "128"] if mp3 else ["", ""])

    def test_csv_reads_back_every_name(self):
        self.assertFalse(self.exported("out.csv").startswith(b"\xef\xbb\xbf"))
        self.check_rows(self.rows("out.csv", ","))

    def test_tsv_reads_back_every_name(self):
        self.check_rows(self.rows("out.tsv", "\t"))

    def test_bom_heads_the_same_rows(self):
        data = self.exported("bom.csv")
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"))
        self.assertEqual(data[3:], self.exported("out.csv"))
        self.check_rows(self.rows("bom.csv", ",", "utf-8-sig"))


if __name__ == "__main__":
    clientlib.main()
