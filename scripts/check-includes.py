#!/usr/bin/env python3
"""Fails when a product source includes a room above its own, or one of its siblings.

The rooms stand on floors, lowest first; a room may include its own floor's room and any room on a
lower floor, never a higher one nor a sibling on its own floor. Only platform/ and media/ talk to
the operating system directly, so the POSIX headers are refused everywhere else.

    scripts/check-includes.py [SOURCE_DIR]
"""
import pathlib
import re
import sys

# Floors, lowest first; rooms on one floor are siblings and do not include each other.
FLOORS = [
    ["codec"],
    ["platform"],
    ["settings"],
    ["format"],
    ["media"],
    ["listing", "export"],
    ["catalog"],
    ["ui"],
    ["app", "cli"],
]
SYSTEM_ROOMS = {"platform", "media"}
SYSTEM_HEADERS = {"unistd.h", "fcntl.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def floor_of(room):
    for level, rooms in enumerate(FLOORS):
        if room in rooms:
            return level
    return None


def check(root):
    problems = []
    for level, rooms in enumerate(FLOORS):
        for room in rooms:
            for source in sorted((root / room).rglob("*")):
                if source.suffix not in {".h", ".cpp"}:
                    continue
                for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    quote, name = m.groups()
                    where = f"{source.relative_to(root)}:{number}"
                    if quote == "<":
                        if name in SYSTEM_HEADERS and room not in SYSTEM_ROOMS:
                            problems.append(f"{where}: <{name}> outside platform/ and media/")
                        continue
                    target = name.split("/")[0] if "/" in name else None
                    if target is None or target == room:
                        continue
                    target_level = floor_of(target)
                    if target_level is None:
                        continue
                    if target_level > level:
                        problems.append(f"{where}: {room}/ includes {name}, a room above it")
                    elif target_level == level:
                        problems.append(f"{where}: {room}/ includes {name}, its sibling")
    return problems


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    problems = check(root)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} include(s) against the order: "
              + " < ".join(", ".join(f) for f in FLOORS))
        return 1
    print("includes follow the order of the rooms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
