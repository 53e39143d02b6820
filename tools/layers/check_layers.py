#!/usr/bin/env python3
"""The house's floors: a room may include only rooms on lower floors (and
itself). Lists every `#include "room/..."` of the program's rooms and fails
on one that climbs or crosses to another room of the same floor.

usage: check_layers.py [SOURCE_ROOT]     exit 0 clean, 1 with the offending lines
"""
import pathlib
import re
import sys

# Floor of each room, bottom first. tools/simulate makes test data from the
# plain data of the run and the field writers only.
FLOORS = {
    "common": 1, "toolkit": 1,
    "state": 2,
    "scan": 3, "fit": 3, "refine": 3, "reduce": 3, "plot": 3,
    "tools/simulate": 3,
    "engine": 4, "ui": 4, "report": 4,
    "commands": 5,
    "shell": 6,
    "app": 7, "python": 7,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def room_of(path):
    """The room a path (relative, with /) belongs to, or None."""
    for room in sorted(FLOORS, key=len, reverse=True):
        if path == room or path.startswith(room + "/"):
            return room
    return None


def check(root):
    faults = []
    for source in sorted(root.rglob("*")):
        if source.suffix not in (".h", ".cpp") or not source.is_file():
            continue
        relative = source.relative_to(root).as_posix()
        if relative.startswith(("build", "tests/", "bench/", ".")):
            continue
        room = room_of(relative)
        if room is None:
            continue
        for number, line in enumerate(source.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = room_of(match.group(1))
            if target is None or target == room:
                continue
            if FLOORS[target] < FLOORS[room]:
                continue
            how = "climbs" if FLOORS[target] > FLOORS[room] else "crosses"
            faults.append(f"{relative}:{number}: {room} (floor {FLOORS[room]}) {how} to "
                          f"{target} (floor {FLOORS[target]}): {line.strip()}")
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    faults = check(root)
    for fault in faults:
        print(fault)
    print(f"layers: {len(faults)} include(s) out of place" if faults else "layers: every include goes down")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
