"""What the module's tests share: the command line beside the module, the
simulator, and copies of the bundled example in each test's own directory.
CTest names the programs in KALVEX_COMMAND and KALVEX_SIMULATE."""
import os
import pathlib
import shutil
import subprocess

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
KALVEX = os.environ["KALVEX_COMMAND"]
SIMULATE = os.environ["KALVEX_SIMULATE"]
BANNER = b"LOG FILE CREATED BY WIN-KALVEX V3.3 ON "


def cli(*args):
    """kalvex with `args`: (status, stdout + stderr)."""
    done = subprocess.run([KALVEX, *map(str, args)], capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def contents(path):
    """A file's bytes, the log banner's time (the one field two runs may
    differ in) blanked."""
    data = pathlib.Path(path).read_bytes()
    at = data.find(BANNER)
    if at >= 0:
        at += len(BANNER)
        data = data[:at] + b"*" * 24 + data[at + 24:]
    return data


def simulated(directory, fmt, reflections=60, *options):
    """A simulated data set in `fmt`: (data file, parameter file, truth rows)."""
    directory.mkdir(parents=True, exist_ok=True)
    subprocess.run([SIMULATE, "--format", fmt, "--out", directory, "--name", "t", "--reflections",
                    str(reflections), *options], check=True, capture_output=True)
    data = directory / ("t.dca" if fmt == "xcalibur" else "t.p4t" if fmt == "xscans" else "t.dat")
    rows = (directory / "t_truth.csv").read_text().splitlines()
    header = rows[0].split(",")
    return data, directory / "t.par", [dict(zip(header, row.split(","))) for row in rows[1:]]


@pytest.fixture
def example(tmp_path):
    """A directory of its own holding the bundled example."""
    def copy(name="example"):
        directory = tmp_path / name
        directory.mkdir()
        for f in ("example.dca", "example.par"):
            shutil.copy(SOURCE / "examples" / f, directory / f)
        return directory
    return copy
