#!/usr/bin/env python3
"""Writes format/FoldTable.inc: each code point whose case folds to one other code point, and
that code point. The catalogue's search folds names and patterns with this table, one code point
at a time (simple case folding): full folding would change lengths ("ß" to "ss"), and a table of
our own, kept in the sources, folds alike in every build, whatever Qt or ICU the build uses, so
an index written by one build is searched correctly by another.

    make-fold-table.py > format/FoldTable.inc
"""
import sys
import unicodedata


def fold(c):
    f = c.casefold()
    if len(f) == 1:
        return f
    low = c.lower()  # a full folding of several code points: its lower case, when it is one
    return low if len(low) == 1 else c


pairs = []
for cp in range(0x110000):
    if 0xD800 <= cp < 0xE000:
        continue
    f = fold(chr(cp))
    if f != chr(cp):
        pairs.append((cp, ord(f)))
out = sys.stdout
out.write("// Made by scripts/make-fold-table.py from Unicode %s; do not edit.\n" % unicodedata.unidata_version)
out.write("// Sorted by the first code point: {code point, its simple case folding}.\n")
for i in range(0, len(pairs), 4):
    out.write(" ".join("{0x%04X, 0x%04X}," % p for p in pairs[i:i + 4]) + "\n")
