#!/usr/bin/env python3
"""The program as a user gets it: `cmake --install` into a scratch prefix,
and the Debian package CPack makes, unpacked into a scratch root. From each:
kalvex --help, the Python module imported (and run) from there, the RPATHs
relative, the man pages and the desktop entry, and winkalvex up to its first
dialog on a virtual X display (Xvfb), with and without a data file named.

usage: install_check.py BUILD_DIR SCRATCH_DIR PYTHON_DIR    exit 0 when all holds
"""
import os
import pathlib
import shutil
import subprocess
import sys
import time

BUILD, SCRATCH = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2]).resolve()
PYTHON_DIR = sys.argv[3]
SOURCE = pathlib.Path(__file__).resolve().parents[2]
failures = []


def expect(what, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + what + ("" if condition else ": " + str(detail)[-2000:]))
    if not condition:
        failures.append(what)


def run(*command, **options):
    return subprocess.run([str(c) for c in command], capture_output=True, text=True, **options)


class Display:
    """A virtual X display of our own, on the first number Xvfb finds free."""

    def __enter__(self):
        # The pipe stays open while the server runs: Xvfb ends with a fatal
        # error when it cannot write its number there.
        self.read, write = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-noreset",
                                        "-nolisten", "tcp"], pass_fds=(write,), stderr=open(SCRATCH / "xvfb.log", "w"))
        os.close(write)
        self.name = ":" + os.read(self.read, 16).decode().strip()
        return self

    def __exit__(self, *_):
        self.server.terminate()
        self.server.wait()
        os.close(self.read)

    def shows(self, command, title, home):
        """Whether `command` opens a window called `title` within 30 s."""
        env = dict(os.environ, DISPLAY=self.name, QT_QPA_PLATFORM="xcb", HOME=str(home))
        program = subprocess.Popen([str(c) for c in command], env=env, cwd=home,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        windows = ""
        for _ in range(300):
            windows = run("xwininfo", "-root", "-tree", "-display", self.name)
            windows = windows.stdout + windows.stderr
            if f'"{title}"' in windows or program.poll() is not None:
                break
            time.sleep(0.1)
        shown = f'"{title}"' in windows
        program.terminate()
        try:
            said = program.communicate(timeout=10)[1]
        except subprocess.TimeoutExpired:
            program.kill()
            said = program.communicate()[1]
        return shown, f"exit status {program.returncode}, stderr: {said}, windows: {windows}"


def check_tree(prefix, display, label):
    """Everything a user runs, from an installed tree under `prefix`."""
    home = SCRATCH / (label + "-home")
    home.mkdir(parents=True, exist_ok=True)
    done = run(prefix / "bin/kalvex", "--help")
    expect(f"{label}: kalvex --help", done.returncode == 0 and "integrate" in done.stdout, done.stdout + done.stderr)

    # The module from the tree alone: the build's is nowhere on the path.
    for name in ("example.dca", "example.par"):
        shutil.copy(SOURCE / "examples" / name, home / name)
    code = ("import kalvex; print(kalvex.__file__); "
            "print(len(kalvex.integrate('example.dca', 'example.par', replace=True).records['h']))")
    env = dict(os.environ, PYTHONPATH=str(prefix / PYTHON_DIR))
    done = run(sys.executable, "-c", code, env=env, cwd=home)
    lines = done.stdout.split()
    expect(f"{label}: import kalvex", done.returncode == 0 and len(lines) == 2 and lines[0].startswith(str(prefix))
           and lines[1] == "321", done.stdout + done.stderr)

    for binary in (prefix / "bin/winkalvex", *(prefix / "lib").glob("**/libpvgui.so")):
        dynamic = run("readelf", "-d", binary).stdout
        paths = [line.split("[")[1].rstrip("]") for line in dynamic.splitlines()
                 if "(RPATH)" in line or "(RUNPATH)" in line]
        expect(f"{label}: {binary.name} finds its libraries from where it lies",
               paths and all(p.startswith("$ORIGIN") for p in paths), paths)

    pages = {page: (prefix / f"share/man/man1/{page}.1") for page in ("kalvex", "kalvex-integrate", "kalvex-reduce")}
    expect(f"{label}: man pages", all(p.is_file() and f".TH {page.upper()} " in p.read_text()
                                      for page, p in pages.items()), list(pages.values()))
    expect(f"{label}: kalvex-integrate(1) has every option",
           all(o in pages["kalvex-integrate"].read_text() for o in ("omega\\-step", "calc\\-ub", "\\-\\-replace")))
    desktop = prefix / "share/applications/winkalvex.desktop"
    icon = prefix / "share/icons/hicolor/scalable/apps/winkalvex.svg"
    types = prefix / "share/mime/packages/winkalvex.xml"
    expect(f"{label}: desktop entry, icon and data-file types", desktop.is_file() and icon.is_file() and
           "*.dca" in types.read_text() and "Exec=winkalvex %f" in desktop.read_text())
    if shutil.which("desktop-file-validate"):
        done = run("desktop-file-validate", desktop)
        expect(f"{label}: desktop-file-validate", done.returncode == 0 and not done.stdout.strip(), done.stdout)
    else:
        print(f"note {label}: desktop-file-validate is not installed (Debian package desktop-file-utils)")

    shown, tree = display.shows([prefix / "bin/winkalvex"], "Open Data File", home)
    expect(f"{label}: winkalvex asks for a data file", shown, tree)
    shown, tree = display.shows([prefix / "bin/winkalvex", home / "example.dca"], "Input Data file Format", home)
    expect(f"{label}: winkalvex example.dca asks for its format", shown, tree)


def main():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    SCRATCH.mkdir(parents=True)
    with Display() as display:
        prefix = SCRATCH / "prefix"
        done = run("cmake", "--install", BUILD, "--prefix", prefix)
        expect("cmake --install into a scratch prefix", done.returncode == 0, done.stdout + done.stderr)
        if done.returncode == 0:
            check_tree(prefix, display, "prefix")

        done = run("cpack", "--config", BUILD / "CPackConfig.cmake", "-B", SCRATCH / "deb", cwd=BUILD)
        debs = list((SCRATCH / "deb").glob("*.deb"))
        expect("cpack makes a .deb", done.returncode == 0 and len(debs) == 1, done.stdout + done.stderr)
        if debs:
            depends = run("dpkg-deb", "--field", debs[0], "Depends").stdout
            expect("the package depends on Qt 6 and numpy", "libqt6widgets6" in depends and "python3-numpy" in depends,
                   depends)
            root = SCRATCH / "root"
            done = run("dpkg-deb", "-x", debs[0], root)
            expect("dpkg-deb unpacks it", done.returncode == 0, done.stderr)
            if done.returncode == 0:
                check_tree(root / "usr", display, "deb")
    print(f"install: {len(failures)} check(s) failed" if failures else "install: every check holds")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
