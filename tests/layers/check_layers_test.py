#!/usr/bin/env python3
"""The layer check passes on the tree as it is and fails on includes planted
in a small house of its own: one that climbs, one that crosses a floor."""
import pathlib
import subprocess
import sys
import tempfile

CHECK = pathlib.Path(__file__).resolve().parents[2] / "tools" / "layers" / "check_layers.py"


def run(root):
    done = subprocess.run([sys.executable, str(CHECK), str(root)], capture_output=True, text=True)
    return done.returncode, done.stdout


def house(files):
    root = pathlib.Path(tempfile.mkdtemp())
    for name, text in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    return root


def main():
    results = []

    def expect(name, condition, detail=""):
        results.append(condition)
        print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": " + detail))

    status, out = run(CHECK.parents[2])
    expect("the tree's includes all go down", status == 0, out)

    downward = {
        "common/fields.h": "#pragma once\n",
        "state/record.h": '#include "common/fields.h"\n',
        "scan/reader.cpp": '#include "state/record.h"\n#include "scan/reader.h"\n#include <vector>\n',
        "scan/reader.h": "#pragma once\n",
        "commands/open.cpp": '#include "scan/reader.h"\n#include "ui/window.h"\n',
        "ui/window.h": '#include "toolkit/toolkit.h"\n',
    }
    status, out = run(house(downward))
    expect("downward includes pass", status == 0, out)

    climbing = dict(downward)
    climbing["scan/reader.cpp"] = '#include "state/record.h"\n#include "ui/window.h"\n'
    status, out = run(house(climbing))
    expect("a climbing include fails", status == 1 and "scan/reader.cpp:2: scan (floor 3) climbs to ui" in out, out)

    crossing = dict(downward)
    crossing["state/record.h"] = '#include "shell/loop.h"\n'
    crossing["fit/profile.cpp"] = '  #  include "refine/geometry.h"\n'
    status, out = run(house(crossing))
    expect("climbing from state and crossing between domain rooms fail",
           status == 1 and "state/record.h:1: state (floor 2) climbs to shell" in out
           and "fit/profile.cpp:1: fit (floor 3) crosses to refine" in out, out)

    passed = sum(results)
    print(f"{passed} passed, {len(results) - passed} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
