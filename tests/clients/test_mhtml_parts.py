#!/usr/bin/env python3
"""Python's email package reads the web archive as a mail client would: five parts in order, the
resources under the names the page uses, the images and texts exactly the Resource files."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import clientlib  # noqa: E402

# Absolute locations: Chromium resolves the page's relative links against the page's location
# and finds a part only by the absolute URL.
EXPECTED_PARTS = [
    ("text/html", "http://treelan.invalid/tree.htm"),
    ("text/css", "http://treelan.invalid/tree.css"),
    ("application/octet-stream", "http://treelan.invalid/tree.js"),
    ("application/octet-stream", "http://treelan.invalid/open.gif"),
    ("application/octet-stream", "http://treelan.invalid/close.gif"),
]


def resource(name):
    with open(os.path.join(clientlib.RESOURCES, name), "rb") as f:
        return f.read()


class ArchiveParts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.error = None
        with clientlib.FixtureTree() as tree:
            try:
                cls.data = clientlib.export(tree.root, tree.output("page.mht"), "mht")
            except AssertionError as error:
                cls.error = str(error)

    def setUp(self):
        if self.error:
            self.fail(self.error)
        self.message = clientlib.parse_archive(self.data)
        self.parts = list(self.message.iter_parts()) if self.message.is_multipart() else []

    def test_five_parts_in_order(self):
        self.assertEqual(self.message.get_content_type(), "multipart/related")
        self.assertEqual(self.message.get_param("boundary"), "x")
        self.assertEqual(self.message.defects, [], "the archive's headers have defects")
        found = [(p.get_content_type(), p.get("Content-Location")) for p in self.parts]
        self.assertEqual(found, EXPECTED_PARTS)
        for part in self.parts:
            self.assertEqual(part.defects, [], "defects in part %s" % part.get("Content-Location"))

    def test_images_are_the_resource_bytes(self):
        for part, name in ((self.parts[3], "open.gif"), (self.parts[4], "close.gif")):
            with self.subTest(image=name):
                self.assertEqual(part.get("Content-Transfer-Encoding"), "base64")
                self.assertEqual(part.get_content(), resource(name))
                # Base64 lines of at most 76 characters, as mail readers expect.
                body = part.get_payload(decode=False)
                self.assertTrue(all(len(line) <= 76 for line in body.splitlines()))

    def test_text_parts_are_the_resource_lines(self):
        for part, name in ((self.parts[1], "tree.css"), (self.parts[2], "tree.js")):
            with self.subTest(resource=name):
                expected = clientlib.copied_text_lines(resource(name))
                self.assertEqual(part.get_payload(decode=True), expected)

    def test_page_links_its_resources(self):
        page = self.parts[0].get_payload(decode=True).decode("utf-8")
        self.assertEqual(self.parts[0].get_content_charset(), "utf-8")
        for needle in ('href="tree.css"', 'src="tree.js"', "ShowAll('UL')", "HideAll('UL')",
                       '<li class="clsHasKids"><span>', "<table>"):
            self.assertIn(needle, page)


class HostileNames(unittest.TestCase):
    def test_line_breaks_in_names_start_no_part(self):
        # A name holding CR LF "--x" would otherwise open a sixth part inside the page.
        with clientlib.HostileTree() as tree:
            data = clientlib.export(tree.root, tree.output("page.mht"), "mht")
        message = clientlib.parse_archive(data)
        found = [(p.get_content_type(), p.get("Content-Location")) for p in message.iter_parts()]
        self.assertEqual(found, EXPECTED_PARTS)
        self.assertIn(b"injected.txt", clientlib.archive_page(data))


if __name__ == "__main__":
    clientlib.main()
