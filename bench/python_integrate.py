#!/usr/bin/env python3
"""kalvex.integrate from Python against `kalvex integrate` on the same file:
a 10,000-reflection Xcalibur set (tools/simulate: 9,700 reflections to
d_min 0.6 and a round of 3 standards every 100, as many as the file's
sequence field numbers), each run in turn, medians of the wall and the
processor times (the processor time counts the reading thread too).

usage: python3 bench/python_integrate.py BUILD_DIR [REPEATS]
(BUILD_DIR/python must hold the module; run it with the interpreter the
module was built for.)
"""
import pathlib
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

build = pathlib.Path(sys.argv[1]).resolve()
repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 11
sys.path.insert(0, str(build / "python"))
import kalvex  # noqa: E402  (from the build named)

work = pathlib.Path(tempfile.mkdtemp(prefix="kalvex-python-bench-"))
subprocess.run([build / "tools/simulate/simulate", "--format", "xcalibur", "--out", work, "--name", "big",
                "--reflections", "9700", "--standards-every", "100", "--d-min", "0.6"], check=True, capture_output=True)
data, par = work / "big.dca", work / "big.par"
command = [build / "app/kalvex", "integrate", data, "--par", par, "--out", work / "cli.int", "--replace", "--quiet"]


def children_cpu():
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def by_command():
    start, cpu = time.perf_counter(), children_cpu()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    cli.append(time.perf_counter() - start)
    cli_cpu.append(children_cpu() - cpu)


def by_call():
    start, cpu = time.perf_counter(), time.process_time()
    kalvex.integrate(data, par, work / "module.int", replace=True)
    module.append(time.perf_counter() - start)
    module_cpu.append(time.process_time() - cpu)


cli, module, cli_cpu, module_cpu = [], [], [], []
for i in range(repeats):
    # Each goes first every other time: neither always finds the caches warm.
    for measure in ((by_command, by_call) if i % 2 == 0 else (by_call, by_command)):
        measure()
same = (work / "cli.int").read_bytes() == (work / "module.int").read_bytes()
records = len(kalvex.integrate(data, par, work / "module.int", replace=True).records["h"])
print(f"{records} reflections, {repeats} runs each, same intensity file: {same}")
for name, wall, cpu in (("kalvex integrate (the process)", cli, cli_cpu),
                        ("kalvex.integrate (the call)", module, module_cpu)):
    print(f"{name:32} wall: median {statistics.median(wall) * 1000:6.1f} ms, best {min(wall) * 1000:6.1f} ms;"
          f"  processor: median {statistics.median(cpu) * 1000:6.1f} ms")
print(f"the call over the process, medians: wall {statistics.median(module) / statistics.median(cli):.3f}, "
      f"processor {statistics.median(module_cpu) / statistics.median(cli_cpu):.3f}")
shutil.rmtree(work)
