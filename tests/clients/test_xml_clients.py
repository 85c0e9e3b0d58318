#!/usr/bin/env python3
"""Real XML clients over real exports: xmllint takes the XML documents and the archive's page as
well-formed, and xsltproc applies every shipped template to them."""

import html
import os
import shutil
import sys
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import clientlib  # noqa: E402


def apply_template(template, document):
    tool = clientlib.require_tool("xsltproc")
    result = clientlib.run(
        [tool, "--nonet", template, document], "xsltproc %s" % os.path.basename(template)
    )
    if result.stderr.strip():
        raise AssertionError("xsltproc %s warned: %s" % (template, result.stderr.decode("utf-8", "replace")))
    out = result.stdout
    # The HTML must parse cleanly as well (libxml2's HTML parser, which reports bad nesting).
    lint = clientlib.require_tool("xmllint")
    check = clientlib.run([lint, "--html", "--noout", "--nonet", "-"], "xmllint --html", input=out)
    if check.stderr.strip():
        raise AssertionError("%s gives broken HTML: %s" % (template, check.stderr.decode("utf-8", "replace")))
    return out.decode("utf-8")


def escaped(name):
    return html.escape(name, quote=False)


class SampleTemplates(unittest.TestCase):
    """The templates against a hand-written export, so they are checked without the exporter."""

    SAMPLE_NAMES = ["Archive", "Café &lt;live&gt;", "Disc 1", "Rock &amp; Roll", "notes.txt", "cover.jpg"]

    def setUp(self):
        self.sample = os.path.join(clientlib.DATA, "clients", "sample.xml")

    def test_sample_is_well_formed(self):
        clientlib.xmllint(self.sample, "sample.xml")

    def test_every_template_applies(self):
        for template in clientlib.xsl_templates():
            with self.subTest(template=os.path.basename(template)):
                clientlib.xmllint(template, template)
                out = apply_template(template, self.sample)
                self.assertIn("/home/ann/Music &amp; Talk/", out, "root path missing or unescaped")
                self.assertIn("track.mp3", out)
                if not template.endswith("playlist.xsl"):
                    for name in self.SAMPLE_NAMES[4:]:
                        self.assertIn(name, out)

    def test_tree_shows_every_folder_and_file(self):
        out = apply_template(os.path.join(clientlib.RESOURCES, "tree.xsl"), self.sample)
        for name in self.SAMPLE_NAMES + ['01 "Intro".mp3', "00:03:16", "128 kbps", "24.12.2003"]:
            self.assertIn(name, out)

    def test_table_builds_full_paths(self):
        out = apply_template(os.path.join(clientlib.RESOURCES, "table.xsl"), self.sample)
        self.assertIn("/home/ann/Music &amp; Talk/Café &lt;live&gt;/Disc 1/01 \"Intro\".mp3", out)
        self.assertIn("/home/ann/Music &amp; Talk/notes.txt", out)

    def test_playlist_sums_the_playing_times(self):
        out = apply_template(os.path.join(clientlib.RESOURCES, "playlist.xsl"), self.sample)
        self.assertIn("00:06:32", out)
        self.assertIn("2 tracks", out)
        self.assertNotIn("cover.jpg", out)


class CliExports(unittest.TestCase):
    """The same clients over what treelan-cli writes for a tree of awkward names."""

    @classmethod
    def setUpClass(cls):
        cls.tree = clientlib.FixtureTree().__enter__()
        cls.xml_path = cls.tree.output("generic.xml")
        cls.xslt_path = cls.tree.output("styled.xml")
        cls.mht_path = cls.tree.output("page.mht")
        cls.errors = {}
        for path, fmt, extra in (
            (cls.xml_path, "xml", ()),
            (cls.xslt_path, "xslt", ("-t", "tree")),
            (cls.mht_path, "mht", ()),
        ):
            try:
                clientlib.export(cls.tree.root, path, fmt, *extra)
            except AssertionError as error:
                cls.errors[fmt] = str(error)

    @classmethod
    def tearDownClass(cls):
        cls.tree.__exit__(None, None, None)

    def exported(self, fmt):
        if fmt in self.errors:
            self.fail(self.errors[fmt])

    def test_xml_exports_are_well_formed(self):
        for fmt, path in (("xml", self.xml_path), ("xslt", self.xslt_path)):
            with self.subTest(format=fmt):
                self.exported(fmt)
                clientlib.xmllint(path, "the %s export" % fmt)

    def test_names_come_back_exactly(self):
        # Parsing undoes the escaping: every name must read as it is on disk.
        self.exported("xml")
        root = ET.parse(self.xml_path).getroot()
        self.assertEqual(root.tag, "folders")
        self.assertEqual(root.get("path").rstrip("/"), self.tree.root)
        files = {f.get("title") for f in root.iter("file")}
        folders = [f.get("title") for f in root.iter("folder")]
        for rel in clientlib.FIXTURE_FILES + [clientlib.FIXTURE_MP3]:
            self.assertIn(rel.split("/")[-1], files)
        self.assertEqual(sorted(folders), sorted(clientlib.FIXTURE_FOLDERS))
        raw = [t for t in files if t.startswith("bad") and t.endswith(".txt")]
        self.assertEqual(len(raw), 1, "the file with an invalid UTF-8 name is missing: %s" % sorted(files))
        empty = [f for f in root.iter("folder") if f.get("title") == clientlib.FIXTURE_EMPTY_DIR]
        self.assertEqual(len(list(empty[0])), 0)
        deep = root.find("folder[@title='Deep']/folder[@title='er']/folder[@title='est']/file")
        self.assertIsNotNone(deep, "nested folders are not nested")
        self.assertEqual(deep.get("title"), "leaf.txt")
        track = root.find("folder[@title='Rock & Roll']/file")
        self.assertEqual((track.get("length"), track.get("bitrate")), ("00:04:10", "128 kbps"))

    def test_stylesheet_line_names_the_template(self):
        self.exported("xslt")
        with open(self.xslt_path, "rb") as f:
            lines = f.read().split(b"\r\n")
        self.assertEqual(lines[1], b'<?xml-stylesheet type="text/xsl" href="tree.xsl"?>')
        # xsltproc follows the line itself when the template stands beside the document.
        folder = os.path.dirname(self.xslt_path)
        shutil.copy(os.path.join(clientlib.RESOURCES, "tree.xsl"), folder)
        tool = clientlib.require_tool("xsltproc")
        out = clientlib.run([tool, "--nonet", self.xslt_path], "xsltproc on the styled export").stdout
        self.assertIn(escaped("with space.txt").encode(), out)

    def test_every_template_applies_to_the_export(self):
        self.exported("xml")
        for template in clientlib.xsl_templates():
            with self.subTest(template=os.path.basename(template)):
                out = apply_template(template, self.xml_path)
                self.assertIn("track.mp3", out)
                if template.endswith("playlist.xsl"):
                    self.assertIn("00:04:10", out)
                    continue
                for rel in clientlib.FIXTURE_FILES:
                    self.assertIn(escaped(rel.split("/")[-1]), out)
                self.assertIn(escaped("Tom & Jerry"), out)

    def test_archive_page_is_well_formed(self):
        self.exported("mht")
        with open(self.mht_path, "rb") as f:
            page = clientlib.archive_page(f.read())
        clientlib.xmllint(page, "the web archive's page")
        xhtml = "{http://www.w3.org/1999/xhtml}"
        root = ET.fromstring(page)
        cells = {td.text for td in root.iter(xhtml + "td")}
        spans = {span.text for span in root.iter(xhtml + "span")}
        for rel in clientlib.FIXTURE_FILES + [clientlib.FIXTURE_MP3]:
            self.assertIn(rel.split("/")[-1], cells)
        self.assertEqual(sorted(spans), sorted(clientlib.FIXTURE_FOLDERS))
        self.assertIn(self.tree.root, root.find(xhtml + "head/" + xhtml + "title").text)


class HostileNames(unittest.TestCase):
    """Control characters and line breaks in names must not break the documents."""

    def test_xml_stays_well_formed(self):
        with clientlib.HostileTree() as tree:
            for fmt in ("xml", "mht"):
                with self.subTest(format=fmt):
                    data = clientlib.export(tree.root, tree.output("out." + fmt), fmt)
                    if fmt == "mht":
                        data = clientlib.archive_page(data)
                    clientlib.xmllint(data, "the %s export of control-character names" % fmt)
                    self.assertIn(b"injected.txt", data)


if __name__ == "__main__":
    clientlib.main()
