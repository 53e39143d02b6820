#!/usr/bin/env bash
# Set-up, build, and then:  (no argument) the main job on the bundled example
#                           test   every test through CTest
#                           gui    the desktop program
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

packages=(cmake g++ make python3 qt6-base-dev qt6-svg-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          xvfb xauth imagemagick fonts-dejavu-core clang libclang-rt-14-dev gemmi-dev gemmi tao-pegtl-dev
          pybind11-dev python3-dev python3-numpy python3-pytest help2man dpkg-dev file x11-utils desktop-file-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "run.sh: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKALVEX_WERROR="${CI:+ON}" >/dev/null
cmake --build build -j "$jobs"

case "${1:-}" in
  test)
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir build --output-on-failure -j "$jobs"
    ;;
  gui)
    shift
    exec build/app/winkalvex "$@"
    ;;
  "")
    # The example is integrated in a copy under build/, so that its log and
    # intensity file do not land in the source tree.
    out="$root/build/example"
    rm -rf "$out" && mkdir -p "$out"
    cp examples/example.dca examples/example.par "$out/"
    build/app/kalvex integrate "$out/example.dca" --par "$out/example.par" --out "$out/example.int" \
      --preprocess --threshold 10 --calc-ub --defaults position
    echo
    echo "run.sh: the bundled example is integrated:"
    echo "  intensity file  build/example/example.int"
    echo "  log             build/example/example.log  (parameter file, refinement report, classification summary)"
    ;;
  *)
    echo "usage: ./run.sh [test|gui]" >&2
    exit 2
    ;;
esac
