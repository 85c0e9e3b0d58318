#!/usr/bin/env python3
"""The Resource folder as the web archive takes it: the two marker images decode and are the ones
scripts/make-images.py makes, the style sheet and script have the line ends the archive copies, and
tree.js opens and closes folders in an XHTML document (run under node with a small stand-in DOM)."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import clientlib  # noqa: E402

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def resource(name):
    with open(os.path.join(clientlib.RESOURCES, name), "rb") as f:
        return f.read()


class Images(unittest.TestCase):
    def test_markers_decode_as_small_images_of_one_size(self):
        decoded = {}
        for name in ("open.gif", "close.gif"):
            try:
                decoded[name] = clientlib.decode_gif(resource(name))
            except (ValueError, IndexError) as error:
                self.fail("%s does not decode: %s" % (name, error))
            width, height, palette, transparent, pixels = decoded[name]
            self.assertTrue(4 <= width <= 32 and 4 <= height <= 32, "%s is %dx%d" % (name, width, height))
            self.assertLess(max(pixels), len(palette), name + " uses a colour outside its palette")
            self.assertGreater(len(set(pixels) - {transparent}), 1, name + " has no visible shape")
        self.assertEqual(decoded["open.gif"][:2], decoded["close.gif"][:2], "the markers differ in size")
        self.assertNotEqual(decoded["open.gif"][4], decoded["close.gif"][4], "open and close look alike")

    def test_generator_reproduces_the_committed_images(self):
        script = os.path.join(SOURCE_DIR, "scripts", "make-images.py")
        with tempfile.TemporaryDirectory() as out:
            clientlib.run([sys.executable, script, out], "make-images.py")
            for name in ("open.gif", "close.gif"):
                with open(os.path.join(out, name), "rb") as f:
                    made = f.read()
                self.assertEqual(made, resource(name), name + " is stale: run scripts/make-images.py")


class TextResources(unittest.TestCase):
    def test_lines_end_in_cr_lf(self):
        # The archive copies these line by line, ending lines at CR: LF-only files would arrive as
        # one long line, with a line end the MIME part does not expect.
        for name in ("tree.css", "tree.js"):
            data = resource(name)
            self.assertTrue(data.endswith(b"\r\n"), name + " does not end with CR LF")
            self.assertEqual(clientlib.copied_text_lines(data), data, name + " has a lone CR or LF")
            self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), name + " has a lone LF")
            data.decode("ascii")  # the page part is declared UTF-8; plain ASCII stays safe

    def test_style_sheet_names_both_markers_and_the_page_classes(self):
        css = resource("tree.css").decode("ascii")
        for needle in ("url(open.gif)", "url(close.gif)", ".clsButton", "li.clsHasKids", "clsClosed"):
            self.assertIn(needle, css)


# A stand-in for an XHTML document: tag names are case sensitive, as they are there.
DOM_HARNESS = r"""
function El(name, cls) {
    this.nodeType = 1; this.nodeName = name; this.className = cls || '';
    this.childNodes = []; this.parentNode = null;
}
El.prototype.add = function (child) { child.parentNode = this; this.childNodes.push(child); return child; };
function Text(s) { this.nodeType = 3; this.nodeValue = s; this.parentNode = null; }
function all(el, name, out) {
    for (var i = 0; i < el.childNodes.length; i++) {
        var c = el.childNodes[i];
        if (c.nodeType === 1) { if (c.nodeName === name) out.push(c); all(c, name, out); }
    }
    return out;
}
var html = new El('html'), body = html.add(new El('body')), outer = body.add(new El('ul'));
function folder(parent, name) {
    var li = parent.add(new El('li', 'clsHasKids')), span = li.add(new El('span'));
    span.add(new Text(name));
    var ul = li.add(new El('ul')), table = ul.add(new El('table'));
    return {li: li, span: span, ul: ul, table: table};
}
var a = folder(outer, 'a'), b = folder(a.ul, 'b'), c = folder(outer, 'c');
var listeners = {};
var document = {
    documentElement: html,
    getElementsByTagName: function (name) { return all(html, name, []); },
    addEventListener: function (type, fn) { (listeners[type] = listeners[type] || []).push(fn); }
};
var window = {};
function click(target) {
    (listeners.click || []).forEach(function (fn) { fn({target: target}); });
}
function closed() {
    return [a, b, c].map(function (f) { return /(^| )clsClosed( |$)/.test(f.li.className); });
}
var states = {};
"""

DOM_SCRIPT = r"""
var ShowAll = window.ShowAll, HideAll = window.HideAll;
states.start = closed();
states.rootClass = html.className;
HideAll('UL'); states.hideAll = closed();
ShowAll('UL'); states.showAll = closed();
click(b.span); states.clickB = closed();
click(b.span.childNodes[0]); states.clickBText = closed();
click(a.span); states.clickA = closed();
click(a.table); states.clickTable = closed();
HideAll('UL'); HideAll('UL'); ShowAll('UL'); states.twice = closed();
states.classes = [a.li.className, b.li.className, c.li.className];
console.log(JSON.stringify(states));
"""


class Script(unittest.TestCase):
    def test_folders_open_and_close(self):
        node = clientlib.require_tool("node")
        source = resource("tree.js").decode("ascii")
        program = DOM_HARNESS + "\n" + source + "\n" + DOM_SCRIPT
        result = clientlib.run([node, "-e", program], "tree.js under node")
        states = json.loads(result.stdout.decode("utf-8"))
        none, every = [False] * 3, [True] * 3
        self.assertEqual(states["start"], none, "folders start closed: the page would hide them")
        self.assertIn("clsScript", states["rootClass"])
        self.assertEqual(states["hideAll"], every, "HideAll('UL') misses folders of an XHTML page")
        self.assertEqual(states["showAll"], none)
        self.assertEqual(states["clickB"], [False, True, False], "a click on a name closes its folder")
        self.assertEqual(states["clickBText"], none, "a click on the name's text opens it again")
        self.assertEqual(states["clickA"], [True, False, False])
        self.assertEqual(states["clickTable"], [True, False, False], "a click on a table toggles nothing")
        self.assertEqual(states["twice"], none)
        self.assertEqual(states["classes"], ["clsHasKids"] * 3, "the item's own class is damaged")

    def test_syntax_is_es5(self):
        # No let/const/arrow functions: old engines that still open web archives must run it.
        source = resource("tree.js").decode("ascii")
        for token in ("=>", "let ", "const ", "`"):
            self.assertNotIn(token, source)


if __name__ == "__main__":
    clientlib.main()
