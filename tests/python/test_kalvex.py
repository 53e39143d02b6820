"""The Python module against the files themselves, the command line and the
golden records: reading every format, fitting, integrate and reduce byte for
byte, errors with their lines, and two runs on two threads."""
import pathlib
import re
import threading
import time

import numpy as np
import pytest

import kalvex
from conftest import SOURCE, cli, contents, simulated

FORMATS = [("xcalibur", {}), ("cad4", {}), ("xscans", {}),
           # A Single file carries no step width: 1.4 degrees in 96 steps.
           ("single", {"format": "single", "omega_step": 0.0145833})]


@pytest.mark.parametrize("fmt,how", FORMATS)
def test_every_format_reads_what_was_simulated(tmp_path, fmt, how):
    data, par, truth = simulated(tmp_path, fmt)
    read = list(kalvex.read_data(data, par, **how))
    assert [(r.seq_no, r.hkl) for r in read] == [
        (int(t["seq"]), (int(t["h"]), int(t["k"]), int(t["l"]))) for t in truth]
    for r, t in zip(read, truth):
        assert r.complete and (r.standard_index > 0) == (t["class"] == "SD")
        assert r.two_theta == pytest.approx(float(t["two_theta"]), abs=2e-3)
        assert np.diff(r.positions) == pytest.approx(r.step_width, rel=1e-3)


def test_counts_are_the_files_own_without_a_copy(example):
    directory = example()
    blocks = []  # each reflection's counts as its S lines hold them
    for line in (directory / "example.dca").read_text().splitlines():
        if line[:2] in ("R ", "# "):  # a standard's block, an ordinary one's
            blocks.append([])
        elif line.startswith("S") and blocks:
            blocks[-1] += [float(v) for v in line[1:].split()]
    read = list(kalvex.read_data(directory / "example.dca", directory / "example.par"))
    assert len(read) == len(blocks) == 321
    for r, counts in zip(read, blocks):
        assert r.counts.dtype == np.float32 and r.counts.tolist() == counts
    view = read[0].counts
    assert view.base is not None and not view.flags.writeable


def test_parameters_are_the_files(example):
    p = kalvex.read_parameters(example() / "example.par")
    assert p.title == "Simulated data set: Win-Kalvex bundled example"
    assert (p.wavelengths, p.iratio, p.attenuator, p.fwhm, p.eta) == ((0.7093, 0.71359), 0.5, 15.4, (0.2, 0.1), 0.4)
    assert p.limits["position"] == (0.5, 0.5) and p.limits["fwhm"] == (0.05, 2.0) and p.rwp_max == 0.3
    assert [k for k, v in p.refined.items() if v] == ["background", "fwhm", "intensity", "position"]
    assert [k for k, v in p.tested.items() if v] == ["background", "fwhm", "position"]
    assert p.monochromator["two_theta"] == 12.16 and p.parity == (1, 1, 1, 1)


def record_fields(line):
    """An "Rfine" record: hkl, the four angles, I, sigma, letters, and the
    decimals each number is printed with."""
    fields = [line[9 + 8 * i:17 + 8 * i] for i in range(4)] + [line[42:53], line[54:61]]
    return (tuple(int(line[3 * i:3 * i + 3]) for i in range(3)),
            [(float(f), len(f.strip().partition(".")[2])) for f in fields], line[70:74])


def test_fits_give_the_golden_records(example):
    """The bundled example integrated from its first reflection with the
    defaults was checked by hand (tests/end_to_end/golden): each reflection
    fitted alone from the run's start values gives its record, numbers to
    two units of their last decimal."""
    directory = example()
    par = kalvex.read_parameters(directory / "example.par")
    read = list(kalvex.read_data(directory / "example.dca", par))
    # The run starts every reflection from the first one's default width.
    start = {"fwhm": kalvex.fit(read[0], par).start["fwhm"]}
    golden = (SOURCE / "tests/end_to_end/golden/example.rfine").read_text().splitlines()
    for r, line in zip(read, golden):
        hkl, numbers, letters = record_fields(line)
        f = kalvex.fit(r, par, start=start)
        got = [r.two_theta, f.omega, r.chi, r.phi, f.intensity, f.sigma]
        assert (r.hkl, f.letters) == (hkl, letters)
        for value, (want, decimals) in zip(got, numbers):
            assert abs(value - want) <= max(2 * 10 ** -decimals, 1e-4 * abs(want)), line
    # The retry's held position: not refined, no esd, window untested.
    held = kalvex.fit(read[5], par, hold_position=0.4)
    assert (held.position, held.esds["position"], held.letters[3]) == (0.4, 0.0, "2")


RUNS = [dict(), dict(preprocess=True, threshold=10, calc_ub=True, defaults="position", output_format="rfine-extended"),
        dict(preprocess=True, calc_fwhm=True, calc_background=True, output_format="shelx", skip_weak=True)]


def command_line(options):
    args = []
    for key, value in options.items():
        args += ["--" + key.replace("_", "-")] + ([] if value is True else [value])
    return args


@pytest.mark.parametrize("options", RUNS)
def test_integrate_writes_what_the_command_writes(example, options):
    a, b = example("a"), example("b")
    status, said = cli("integrate", a / "example.dca", "--par", a / "example.par", *command_line(options))
    assert status == 0, said
    run = kalvex.integrate(b / "example.dca", b / "example.par", **options)
    for name in ("example.int", "example.log"):
        assert contents(b / name) == contents(a / name), name
    assert "\n".join(run.summary) in (b / "example.log").read_text()
    assert run.notes == ["Every reflection of example.dca is in example.int"] and run.unwritten == []
    assert (run.orientation is not None) == ("calc_ub" in options) == ("Refined cell" in said)
    if options.get("output_format", "rfine") != "shelx":
        records = [record_fields(line) for line in (b / "example.int").read_text().splitlines()
                   if not line[:1].isalpha()]
        assert run.records["letters"].tolist() == [letters for _, _, letters in records]
        assert run.records["intensity"] == pytest.approx([n[4][0] for _, n, _ in records], rel=1e-4, abs=1e-3)
        assert run.records["l"].tolist() == [hkl[2] for hkl, _, _ in records]


def test_reduce_writes_what_the_command_writes(example):
    a, b = example("a"), example("b")
    for d in (a, b):
        assert cli("integrate", d / "example.dca", "--par", d / "example.par")[0] == 0
    status, said = cli("reduce", a / "example.int", "--par", a / "example.par", "--laue", "mmm",
                       "--formula", "C10 H8 N2", "--z", "4", "--ins", a / "example.ins",
                       "--absorption", "sphere", "--radius", "0.1")
    assert status == 0, said
    reduced = kalvex.reduce(b / "example.int", b / "example.par", laue="mmm", formula="C10 H8 N2", z=4,
                            ins=b / "example.ins", absorption="sphere", radius=0.1)
    for name in ("example.hkl", "example.cif", "example.ins"):
        assert (b / name).read_bytes() == (a / name).read_bytes(), name
    assert reduced.summary == said.replace(str(a), str(b)).splitlines() and reduced.laue == "mmm"
    kept = {k: v[reduced.reflections["kept"]] for k, v in reduced.reflections.items()}
    written = [float(line[12:20]) for line in (b / "example.hkl").read_text().splitlines()]
    assert len(kept["h"]) == len(written) - 1  # and the end record
    assert np.allclose(kept["intensity"], written[:-1], rtol=1e-5, atol=0.051)
    assert reduced.cell[:3] == pytest.approx((8.5, 11.2, 13.7), abs=0.01)


def broken(directory, name, old, new, occurrence):
    """Replaces the `occurrence`-th line starting with `old`; its number."""
    path = directory / name
    lines = path.read_text().splitlines(keepends=True)
    at = [i for i, line in enumerate(lines) if line.startswith(old)][occurrence]
    lines[at] = new + lines[at][len(new):] if new else ""
    path.write_text("".join(lines))
    return at + 1


@pytest.mark.parametrize("what", ["count", "no E line", "parameters", "missing"])
def test_read_errors_carry_the_programs_message_and_line(example, what):
    d = example()
    if what == "count":  # a count that does not convert, in the third block
        line = broken(d, "example.dca", "S ", "S?", 24)
        message = f"ERROR READING FILE AT LINE {line:6d}"
    elif what == "no E line":  # the second block's E line gone: its Y line is read instead
        line = broken(d, "example.dca", "E ", "", 1)
        message = f"ERROR READING FILE: EXPECTED E, GOT Y AT LINE {line:6d}"
    elif what == "parameters":
        line = broken(d, "example.par", "RFLAGS", "RFLAGS    x", 0)
        message = f"ERROR READING PARAMETER FILE: RFLAGS at line {line}"
    else:
        (d / "example.dca").unlink()
        line, message = 0, f"cannot read {d / 'example.dca'}"
    with pytest.raises(kalvex.ReadError) as raised:
        if what == "parameters":
            kalvex.read_parameters(d / "example.par")
        else:
            list(kalvex.read_data(d / "example.dca", d / "example.par"))
    assert (str(raised.value).startswith(message), raised.value.line) == (True, line)
    with pytest.raises(kalvex.ReadError) as raised:
        kalvex.integrate(d / "example.dca", d / "example.par", out=d / "x.int")
    assert (str(raised.value).startswith(message), raised.value.line) == (True, line)
    if what != "missing":  # which the command refuses as a usage error
        status, said = cli("integrate", d / "example.dca", "--par", d / "example.par", "--out", d / "y.int")
        assert (status, message[:60] in said) == (1, True), said


def test_a_broken_intensity_file_and_an_empty_header_name_their_lines(example, tmp_path):
    d = example()
    kalvex.integrate(d / "example.dca", d / "example.par")
    line = broken(d, "example.int", "  2  0  1", "  0  0  0", 0)
    with pytest.raises(kalvex.ReadError) as raised:
        kalvex.reduce(d / "example.int", d / "example.par")
    assert raised.value.line == line and f"line {line}" in str(raised.value)
    (tmp_path / "empty.dat").write_text("")
    with pytest.raises(kalvex.ReadError) as raised:
        kalvex.read_data(tmp_path / "empty.dat", d / "example.par", format="cad4")
    assert (str(raised.value), raised.value.line) == ("Error reading file header at line 0", 0)


@pytest.mark.parametrize("options,words", [
    (dict(append=True, replace=True), "exclude"), (dict(output_format="cif"), "cif"),
    (dict(threshold=10), "preprocess=True"), (dict(calc_ub=True), "preprocess=True"),
    (dict(preprocess=True, system="cubic"), "calc_ub=True"), (dict(omega_step=0.0001), "Step size too small"),
    (dict(defaults="intensity"), "default rule"), (dict(nstep_bg=0), "nstep_bg"),
    (dict(input_format="cif"), "input_format"), (dict(threshold=float("nan"), preprocess=True), "threshold")])
def test_requests_that_make_no_sense_are_value_errors(example, options, words):
    d = example()
    with pytest.raises(ValueError, match=re.escape(words)):
        kalvex.integrate(d / "example.dca", d / "example.par", **options)
    assert sorted(p.name for p in d.iterdir()) == ["example.dca", "example.par"]


def test_existing_outputs_and_unwritable_ones(example):
    d = example()
    kalvex.integrate(d / "example.dca", d / "example.par")
    with pytest.raises(ValueError, match="append=True"):
        kalvex.integrate(d / "example.dca", d / "example.par")
    assert len(kalvex.integrate(d / "example.dca", d / "example.par", append=True).records["h"]) == 321
    assert len((d / "example.int").read_text().splitlines()) == 642
    with pytest.raises(kalvex.WriteError, match="cannot write"):
        kalvex.integrate(d / "example.dca", d / "example.par", out=d / "nowhere" / "x.int")
    with pytest.raises(ValueError, match="system"):
        kalvex.reduce(d / "example.int", d / "example.par", system="triclinic")
    with pytest.raises(ValueError, match="absorption"):
        kalvex.reduce(d / "example.int", d / "example.par", absorption="cylinder")


def test_integrate_leaves_the_interpreter_free(tmp_path):
    """While a long run goes on in another thread (no callback: nothing of it
    runs in Python), this thread keeps running: no pause in its loop takes
    three quarters of the run."""
    data, par, _ = simulated(tmp_path, "cad4", 20000, "--d-min", "0.5")
    took = []

    def run():
        start = time.perf_counter()
        kalvex.integrate(data, par)
        took.append(time.perf_counter() - start)
    thread = threading.Thread(target=run)
    ticks = [time.perf_counter()]
    thread.start()
    while thread.is_alive():
        ticks.append(time.perf_counter())
    assert took and max(np.diff(ticks)) < 0.75 * took[0], (max(np.diff(ticks)), took)


def test_two_threads_integrate_two_files_at_once(example, tmp_path):
    """Each run waits in its first progress callback until the other has
    reached its own; both write what the command writes alone."""
    d = example()
    runs = [(d / "example.dca", d / "example.par"), simulated(tmp_path / "c", "cad4", 2000)[:2]]
    meet = threading.Barrier(2, timeout=30)
    results, errors = {}, []

    def integrate(i):
        def progress(passed, total, rate):
            if i not in results:
                results[i] = meet.wait()
        try:
            results[i] = kalvex.integrate(*runs[i], progress=progress)
        except Exception as e:  # the assertion below shows it
            errors.append(e)
    threads = [threading.Thread(target=integrate, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    for i, (data, par) in enumerate(runs):
        assert cli("integrate", data, "--par", par, "--out", data.parent / "alone.int")[0] == 0
        assert pathlib.Path(results[i].output_path).read_bytes() == (data.parent / "alone.int").read_bytes()


def test_progress_counts_the_file_and_its_exceptions_stop_the_run(example):
    d = example()
    seen = []
    kalvex.integrate(d / "example.dca", d / "example.par", progress=lambda *a: seen.append(a))
    assert seen[-1][:2] == (321, 321) and all(0 <= p <= t for p, t, _ in seen)

    def fail(passed, total, rate):
        raise KeyError("stop here")
    with pytest.raises(KeyError, match="stop here"):
        kalvex.integrate(d / "example.dca", d / "example.par", out=d / "stopped.int", progress=fail)
