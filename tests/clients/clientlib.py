"""Shared pieces of the client tests: arguments, outside tools, fixture trees, archive and GIF
reading. Every test script is run as  test_X.py CLI RESOURCE_DIR TEST_DATA_DIR."""

import email
import email.policy
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

CLI = RESOURCES = DATA = None

TOOL_PACKAGES = {
    "xmllint": "libxml2-utils",
    "xsltproc": "xsltproc",
    "node": "nodejs",
    "ncdu": "ncdu",
    "gdu": "gdu",
}


def main():
    """Takes the three arguments, then runs the unittest cases of the calling script."""
    global CLI, RESOURCES, DATA
    if len(sys.argv) < 4:
        sys.stderr.write("usage: %s TREELAN_CLI RESOURCE_DIR TEST_DATA_DIR\n" % sys.argv[0])
        sys.exit(2)
    CLI, RESOURCES, DATA = (os.path.abspath(a) for a in sys.argv[1:4])
    unittest.main(argv=[sys.argv[0], "-v"])


def require_tool(name):
    path = shutil.which(name)
    if path is None:
        raise AssertionError(
            "%s is missing: install the Debian package %s" % (name, TOOL_PACKAGES.get(name, name))
        )
    return path


def run(args, what, **kwargs):
    """Runs a command; a non-zero exit fails the test with the command's own messages."""
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    if result.returncode != 0:
        raise AssertionError(
            "%s failed (exit %d): %s\nstdout: %s\nstderr: %s"
            % (what, result.returncode, " ".join(map(str, args)), _text(result.stdout), _text(result.stderr))
        )
    return result


def _text(data):
    return data.decode("utf-8", "replace")[-2000:]


def xmllint(path_or_bytes, what):
    """Well-formedness check; never fetches the DTD that the page names."""
    tool = require_tool("xmllint")
    if isinstance(path_or_bytes, bytes):
        return run([tool, "--noout", "--nonet", "-"], "xmllint on " + what, input=path_or_bytes)
    return run([tool, "--noout", "--nonet", path_or_bytes], "xmllint on " + what)


def xsl_templates():
    names = sorted(n for n in os.listdir(RESOURCES) if n.lower().endswith(".xsl"))
    if not names:
        raise AssertionError("no .xsl template in %s" % RESOURCES)
    return [os.path.join(RESOURCES, n) for n in names]


def export(folder, output, fmt, *options):
    """Runs `treelan-cli export` and returns the bytes it wrote."""
    if not os.path.isfile(CLI):
        raise AssertionError("treelan-cli not found at %s: build the target treelan-cli" % CLI)
    args = [CLI, "export", "-r", "-m", "-f", fmt, "--resources", RESOURCES, "-q"]
    args += list(options) + [folder, output]
    run(args, "treelan-cli export -f " + fmt)
    if not os.path.isfile(output):
        raise AssertionError("treelan-cli export -f %s exited 0 but wrote no %s" % (fmt, output))
    with open(output, "rb") as f:
        return f.read()


# A constant-bit-rate MPEG-1 Layer III header (128 kbps, 44.1 kHz): 4 000 000 bytes play 00:04:10.
MP3_HEADER = bytes((0xFF, 0xFB, 0x90, 0x64))
MP3_SIZE = 4000000

# Names that must come out of every export readable and escaped (relative paths, "/" between).
FIXTURE_FILES = [
    "notes.txt",
    'a<b "quoted" > c.txt',
    "it's café é.txt",
    "Tom & Jerry/with space.txt",
    "Tom & Jerry/&amp; already.txt",
    "Deep/er/est/leaf.txt",
]
FIXTURE_MP3 = "Rock & Roll/track.mp3"
FIXTURE_EMPTY_DIR = "Empty"
FIXTURE_RAW_NAME = b"bad\xff.txt"  # not valid UTF-8
FIXTURE_FOLDERS = ["Deep", "er", "est", "Empty", "Rock & Roll", "Tom & Jerry"]


class FixtureTree:
    """A temporary folder with the awkward names above. Use as a context manager."""

    def __enter__(self):
        self.tmp = tempfile.mkdtemp(prefix="treelan-clients-")
        self.root = os.path.join(self.tmp, "root & <tree>")
        os.makedirs(self.root)
        for rel in FIXTURE_FILES:
            self.write(rel, b"x" * 2600)
        path = self.write(FIXTURE_MP3, MP3_HEADER)
        with open(path, "r+b") as f:
            f.truncate(MP3_SIZE)  # sparse: no 4 MB written
        os.makedirs(os.path.join(self.root, FIXTURE_EMPTY_DIR))
        with open(os.path.join(os.fsencode(self.root), FIXTURE_RAW_NAME), "wb") as f:
            f.write(b"raw")
        self.out = os.path.join(self.tmp, "out")
        os.makedirs(self.out)
        return self

    def write(self, rel, data):
        path = os.path.join(self.root, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def output(self, name):
        return os.path.join(self.out, name)

    def __exit__(self, *exc):
        shutil.rmtree(self.tmp, ignore_errors=True)


# Names that a POSIX file system allows but XML and MIME lines do not take as they are: control
# characters, and line breaks that would start a line "--x" (a boundary) inside the page part.
HOSTILE_NAMES = [
    "bell\x07 and tab\t.txt",
    "evil\r\n--x\r\nContent-Type: text/plain\r\n\r\ninjected.txt",
    "early\r\n--x--\r\nend.txt",
    "esc\x1b[31m.txt",
]


class HostileTree(FixtureTree):
    def __enter__(self):
        self.tmp = tempfile.mkdtemp(prefix="treelan-hostile-")
        self.root = os.path.join(self.tmp, "root")
        os.makedirs(self.root)
        for name in HOSTILE_NAMES:
            self.write(name, b"x")
        self.write("sub\r\n--x\r\nfolder/inner.txt", b"x")
        self.out = os.path.join(self.tmp, "out")
        os.makedirs(self.out)
        return self


# One hostile fixture for the machine-readable exports (JSON, ncdu, CSV, TSV): raw relative paths
# and sizes. Markup, quotes, line breaks, TAB, C0 controls and DEL, backslash, separators, cells that
# a spreadsheet would run as formulas, non-ASCII text, and bytes that are not UTF-8 (one of them
# reads as the UTF-8 name beside it).
FORMAT_FILES = [
    (b"markup <>&\"'.txt", 11),
    (b"line\r\nbreak.txt", 12),
    (b"tab\tname.txt", 13),
    (b"ctl\x01\x1b\x7f.txt", 14),
    (b"bad\xff\xfe.txt", 15),
    ("caf\u00e9.txt".encode(), 16),
    (b"caf\xe9.txt", 17),
    (b"=HYPERLINK(1).txt", 18),
    (b"+1.txt", 19),
    (b"-x.txt", 20),
    (b"@at.txt", 21),
    (b"'quoted.txt", 22),
    (b"\t=tab.txt", 23),
    (b"\r=cr.txt", 24),
    (b'comma, "quote".txt', 25),
    (b"back\\slash.txt", 26),
    ("snow \u2603 \u2028 \U0001F600.txt".encode(), 27),
    (b"dir\xe9/inner\xe9.txt", 28),
    (b"=folder/-cell.txt", 29),
    (b"Deep/er/est/leaf.txt", 0),
    (b".hidden/seen.txt", 30),
    (b"Deep/.dot.txt", 31),
    (b"Deep/data.bin", 32),
]
FORMAT_MP3 = b"Music/track.mp3"  # MP3_HEADER, sparse to MP3_SIZE: 00:04:10 at 128 kbps
FORMAT_EMPTY_DIR = b"Empty"
FORMAT_TIME = 1078315200  # 2004-03-03T12:00:00Z


def decode_name(raw):
    """Treelan's reading of name bytes: valid UTF-8 as such, every other byte as its Latin-1
    character."""
    out = []
    i = 0
    while i < len(raw):
        try:
            out.append(raw[i:].decode("utf-8"))
            break
        except UnicodeDecodeError as error:
            out.append(raw[i : i + error.start].decode("utf-8"))
            out.append(chr(raw[i + error.start]))
            i += error.start + 1
    return "".join(out)


class FormatTree(FixtureTree):
    """The FORMAT_ fixture; `files` maps raw relative paths to sizes, `folders` lists the raw
    relative folder paths."""

    def __enter__(self):
        self.tmp = tempfile.mkdtemp(prefix="treelan-formats-")
        self.root = os.path.join(self.tmp, "root")
        self.broot = os.fsencode(self.root)
        os.makedirs(self.root)
        self.files = {}
        for rel, size in FORMAT_FILES:
            self.write_raw(rel, b"x" * size)
            self.files[rel] = size
        path = self.write_raw(FORMAT_MP3, MP3_HEADER)
        with open(path, "r+b") as f:
            f.truncate(MP3_SIZE)
        self.files[FORMAT_MP3] = MP3_SIZE
        os.makedirs(os.path.join(self.broot, FORMAT_EMPTY_DIR))
        self.folders = []
        for top, dirs, files in os.walk(self.broot, topdown=False):
            for name in files:
                os.utime(os.path.join(top, name), (FORMAT_TIME, FORMAT_TIME))
            if top != self.broot:
                self.folders.append(os.path.relpath(top, self.broot))
            os.utime(top, (FORMAT_TIME + 60, FORMAT_TIME + 60))
        self.out = os.path.join(self.tmp, "out")
        os.makedirs(self.out)
        return self

    def write_raw(self, rel, data):
        path = os.path.join(self.broot, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path


def parse_archive(data):
    return email.message_from_bytes(data, policy=email.policy.default)


def archive_page(data):
    """The bytes of the archive's first part, the XHTML page."""
    message = parse_archive(data)
    if not message.is_multipart():
        raise AssertionError("the web archive is not a multipart message: %r" % data[:200])
    first = next(message.iter_parts())
    return first.get_payload(decode=True)


def copied_text_lines(data):
    """A text resource as the exporter copies it: lines end at CR or CR LF, a lone LF stays inside
    its line, every line gets CR LF."""
    out = bytearray()
    line = bytearray()
    i = 0
    while i < len(data):
        c = data[i]
        if c == 0x0D:
            out += line + b"\r\n"
            line = bytearray()
            if i + 1 < len(data) and data[i + 1] == 0x0A:
                i += 1
        else:
            line.append(c)
        i += 1
    if line:
        out += line + b"\r\n"
    return bytes(out)


def decode_gif(data):
    """A small GIF reader, written apart from the generator so that it checks it: returns
    (width, height, palette, transparent index or None, pixel indices)."""
    if data[:6] not in (b"GIF87a", b"GIF89a"):
        raise ValueError("no GIF signature")
    width = data[6] | data[7] << 8
    height = data[8] | data[9] << 8
    flags = data[10]
    pos = 13
    palette = []
    if flags & 0x80:
        count = 2 << (flags & 7)
        palette = [tuple(data[pos + 3 * i : pos + 3 * i + 3]) for i in range(count)]
        pos += 3 * count
    transparent = None
    while True:
        kind = data[pos]
        if kind == 0x21:  # extension: label, then sub-blocks
            label = data[pos + 1]
            pos += 2
            if label == 0xF9 and data[pos + 1] & 1:
                transparent = data[pos + 4]
            pos = _skip_blocks(data, pos)
        elif kind == 0x2C:
            break
        else:
            raise ValueError("unexpected block 0x%02x at %d" % (kind, pos))
    iw = data[pos + 5] | data[pos + 6] << 8
    ih = data[pos + 7] | data[pos + 8] << 8
    iflags = data[pos + 9]
    pos += 10
    if iflags & 0x80:
        palette = palette[:]  # local table: not used by our images
        pos += 3 * (2 << (iflags & 7))
    min_size = data[pos]
    pos += 1
    stream = bytearray()
    while data[pos]:
        n = data[pos]
        stream += data[pos + 1 : pos + 1 + n]
        pos += 1 + n
    pos += 1
    if data[pos:] != b"\x3b":
        raise ValueError("trailer missing or data after it")
    pixels = _lzw_decode(bytes(stream), min_size)
    if (iw, ih) != (width, height) or len(pixels) != width * height:
        raise ValueError("%d pixels for an image of %dx%d" % (len(pixels), width, height))
    return width, height, palette, transparent, pixels


def _skip_blocks(data, pos):
    while data[pos]:
        pos += 1 + data[pos]
    return pos + 1


def _lzw_decode(stream, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    bitpos = 0

    def read(width):
        nonlocal bitpos
        if bitpos + width > len(stream) * 8:
            raise ValueError("code stream ends without the end code")
        value = 0
        for k in range(width):
            byte = stream[(bitpos + k) >> 3]
            value |= ((byte >> ((bitpos + k) & 7)) & 1) << k
        bitpos += width
        return value

    out = []
    width = min_size + 1
    table = None
    previous = None
    while True:
        code = read(width)
        if code == clear:
            table = [[i] for i in range(clear)] + [None, None]
            width = min_size + 1
            previous = None
            continue
        if table is None:
            raise ValueError("code stream does not start with a clear code")
        if code == end:
            return out
        if previous is None:
            entry = table[code]
        else:
            if code < len(table):
                entry = table[code]
            elif code == len(table):
                entry = previous + previous[:1]
            else:
                raise ValueError("code %d beyond the table" % code)
            if len(table) < 4096:
                table.append(previous + entry[:1])
                if len(table) == (1 << width) and width < 12:
                    width += 1
        if entry is None:
            raise ValueError("clear or end code used as data")
        out.extend(entry)
        previous = entry
