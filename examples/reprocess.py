#!/usr/bin/env python3
"""The bundled example reprocessed from Python: integrated as ./run.sh does,
reduced, its Laue classes ranked, and one scan plotted with its fit and
residuals (when matplotlib is installed; without it the plot is skipped).

usage: python3 examples/reprocess.py [DIRECTORY]
The files are written in DIRECTORY (default: a new temporary directory).
"""
import pathlib
import shutil
import sys
import tempfile

import numpy as np

import kalvex

here = pathlib.Path(__file__).resolve().parent
work = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(tempfile.mkdtemp(prefix="kalvex-"))
work.mkdir(parents=True, exist_ok=True)
for name in ("example.dca", "example.par"):
    shutil.copy(here / name, work / name)
data = work / "example.dca"
parameters = kalvex.read_parameters(work / "example.par")

# Preprocess, refine UB from the strong reflections, then integrate with
# each peak's position predicted from it.
run = kalvex.integrate(data, parameters, replace=True, preprocess=True, threshold=10, calc_ub=True,
                       defaults="position")
cell = run.orientation["cell"]
print(f"{len(run.records['h'])} reflections integrated into {run.output_path}")
print("refined cell: a b c = %.4f %.4f %.4f, alpha beta gamma = %.3f %.3f %.3f" % cell[:6])
print("accepted at once: %(OK)d, refitted: %(refitted)d, recovered: %(recovered)d" % run.outcomes)

reduced = kalvex.reduce(run.output_path, parameters)
print(f"\nreduced to {reduced.hkl_file} and {reduced.cif_file}")
print(f"{'Laue class':<18}{'order':>6}{'unique':>8}{'R_int':>8}{'R_meas':>8}")
for row in reduced.laue_ranking:
    print(f"{row['laue']:<18}{row['order']:>6}{row['unique']:>8}{row['r_int']:>8.4f}{row['r_meas']:>8.4f}")
print(f"the data merge in {reduced.laue}")

# One scan, fitted alone: its counts, the fitted profile, and the residuals
# in units of the counts' Poisson sigma.
reflection = next(r for r in kalvex.read_data(data, parameters) if r.hkl == (3, 1, 7))
fit = kalvex.fit(reflection, parameters)
residuals = (reflection.counts - fit.calculated) / np.sqrt(np.maximum(reflection.counts, 1))
print(f"\n3 1 7: I = {fit.intensity:.1f} +- {fit.sigma:.1f}, Rwp {fit.rwp:.3f}, letters '{fit.letters}', "
      f"largest residual {np.abs(residuals).max():.1f} sigma")
try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("matplotlib is not installed: the plot is skipped")
else:
    figure, (top, bottom) = plt.subplots(2, 1, sharex=True, height_ratios=(3, 1))
    top.plot(reflection.positions, reflection.counts, "k.", label="counts")
    top.plot(reflection.positions, fit.calculated, "g-", label="fit")
    top.set_ylabel("counts")
    top.set_title(f"reflection {reflection.seq_no}, hkl 3 1 7")
    top.legend()
    bottom.plot(reflection.positions, residuals, "k-")
    bottom.axhline(3, color="orange")
    bottom.axhline(-3, color="orange")
    bottom.set_xlabel("omega from the scan centre (degrees)")
    bottom.set_ylabel("(counts - fit) / sigma")
    figure.savefig(work / "scan_3_1_7.png", dpi=100)
    print(f"plot: {work / 'scan_3_1_7.png'}")
