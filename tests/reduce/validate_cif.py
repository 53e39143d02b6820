#!/usr/bin/env python3
"""The CIFs of kalvex reduce against the core dictionary: `gemmi validate -d`,
and what its DDL1 check does not look at, the names the dictionary has
replaced and the parent category of every linked item. The one error
allowed is a negative _diffrn_refln_intensity_net: a weak reflection
measured below its background, written as measured.

usage: validate_cif.py KALVEX SIMULATE DICTIONARY WORKDIR [SCRATCH]
Reduces data sets simulated here (with and without symmetry, a space group
named, a file name with a blank, the options that add items) and checks
their CIFs and every CIF kalvex reduce wrote under SCRATCH."""
import pathlib
import re
import shutil
import subprocess
import sys

ALLOWED = re.compile(r"_diffrn_refln_intensity_net: value out of expected range: -")


def tokens(text):
    """CIF tokens without comments; text fields and quoted strings as values
    (a tuple marks a value that was quoted)."""
    out = []
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith(";"):
            field = [line[1:]]
            i += 1
            while i < len(lines) and not lines[i].startswith(";"):
                field.append(lines[i])
                i += 1
            out.append(("\n".join(field),))
            i += 1
            continue
        for m in re.finditer(r"'((?:[^']|'(?=\S))*)'(?=\s|$)|\"([^\"]*)\"(?=\s|$)|(#.*)|(\S+)", line):
            if m.group(3):
                break
            if m.group(4) is not None:
                out.append(m.group(4))
            else:
                out.append((m.group(1) if m.group(1) is not None else m.group(2),))
        i += 1
    return out


def tags(text):
    return {t.lower() for t in tokens(text) if isinstance(t, str) and t.startswith("_")}


def dictionary(path):
    """Names the dictionary replaces, and each linked item's parent."""
    replaced, parent = set(), {}
    for block in re.split(r"^data_", path.read_text(errors="replace"), flags=re.M)[1:]:
        items = tokens(block)
        names, relations, links = [], [], []
        k = 0
        while k < len(items):
            t = items[k]
            if t == "loop_":
                heads = []
                k += 1
                while k < len(items) and isinstance(items[k], str) and items[k].startswith("_"):
                    heads.append(items[k])
                    k += 1
                values = []
                while k < len(items) and not (isinstance(items[k], str) and (items[k].startswith("_") or items[k] == "loop_")):
                    values.append(items[k][0] if isinstance(items[k], tuple) else items[k])
                    k += 1
                for r in range(0, len(values) - len(heads) + 1, max(len(heads), 1)):
                    row = dict(zip(heads, values[r:r + len(heads)]))
                    names += [row["_name"]] if "_name" in row else []
                    relations += [row["_related_function"]] if "_related_function" in row else []
                continue
            if isinstance(t, str) and t.startswith("_") and k + 1 < len(items):
                value = items[k + 1][0] if isinstance(items[k + 1], tuple) else items[k + 1]
                if t == "_name":
                    names.append(value)
                elif t == "_related_function":
                    relations.append(value)
                elif t == "_list_link_parent":
                    links.append(value)
                k += 2
                continue
            k += 1
        for name in names:
            if "replace" in relations:
                replaced.add(name.lower())
            for p in links:
                parent[name.lower()] = p.lower()
    return replaced, parent


def run(command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(" ".join(map(str, command)) + ":\n" + done.stdout + done.stderr)
    return done.stdout


def data_sets(kalvex, simulate, work):
    """The CIFs of the data sets made here."""
    work.mkdir(parents=True, exist_ok=True)
    sets = [
        ("mono", ["--cell", "7.5,9.8,11.3,90,101.5,90", "--equivalents", "2/m", "--decay", "10", "--f-squared",
                  "--reflections", "3000", "--d-min", "1.2", "--mean-intensity", "60"], []),
        ("none", ["--cell", "6.1,7.3,8.9,81,77,68", "--f-squared", "--reflections", "800"], []),
        ("ortho", ["--equivalents", "mmm", "--f-squared", "--reflections", "1500", "--d-min", "1.3"],
         ["--laue", "Pnma", "--temperature", "293", "--device", "four-circle", "--source", "sealed X-ray tube",
          "--cosines", "--batch-from-scale-groups", "--system", "orthorhombic"]),
        ("my data", ["--reflections", "300"], ["--no-decay", "--cell-threshold", "5"]),
        ("sphere", ["--equivalents", "mmm", "--sphere", "0.1", "--mu", "3", "--reflections", "400"],
         ["--absorption", "sphere", "--radius", "0.1", "--formula", "C12 H10 N2 O", "--z", "4", "--ins", "sphere.ins"]),
    ]
    cifs = []
    for name, simulated, reduced in sets:
        run([simulate, "--format", "xcalibur", "--out", work, "--name", name, "--seed", "3"] + simulated, work)
        run([kalvex, "integrate", work / (name + ".dca"), "--par", work / (name + ".par"), "--quiet", "--replace"], work)
        print(run([kalvex, "reduce", work / (name + ".int"), "--par", work / (name + ".par")] + reduced, work)
              .splitlines()[0])
        cifs.append(work / (name + ".cif"))
    return cifs


def main():
    kalvex, simulate, dic, work = (pathlib.Path(a).resolve() for a in sys.argv[1:5])
    scratch = pathlib.Path(sys.argv[5]) if len(sys.argv) > 5 else None
    gemmi = shutil.which("gemmi")
    if gemmi is None:
        print("validate_cif: no gemmi command (Debian package gemmi)")
        return 1
    if not dic.is_file():
        print(f"validate_cif: no dictionary at {dic}")
        return 1
    cifs = data_sets(kalvex, simulate, work)
    if scratch is not None and scratch.is_dir():
        cifs += [p for p in sorted(scratch.rglob("*.cif")) if "kalvex reduce" in p.read_text(errors="replace")[:400]]
    replaced, parent = dictionary(dic)
    failures = 0
    for cif in cifs:
        done = subprocess.run([gemmi, "validate", "-d", str(dic), str(cif)], capture_output=True, text=True)
        lines = [l for l in (done.stdout + done.stderr).splitlines() if l.strip()]
        errors = [l for l in lines if not ALLOWED.search(l)]
        present = tags(cif.read_text())
        errors += [f"{t}: replaced in the dictionary" for t in sorted(present & replaced)]
        errors += [f"{t}: its parent {parent[t]} is not in the file" for t in sorted(present)
                   if t in parent and parent[t] not in present]
        negatives = len(lines) - len([l for l in lines if not ALLOWED.search(l)])
        print(f"{cif}: {len(present)} items, {negatives} negative net intensities, {len(errors)} errors")
        for e in errors[:20]:
            print("  " + e)
        failures += len(errors) > 0
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
