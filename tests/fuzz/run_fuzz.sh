#!/usr/bin/env bash
# The readers under libFuzzer: builds the targets of this folder with clang,
# makes seed files with simulate (one small data set of each format and its
# parameter file), then runs each target in turn for SECONDS. A crash, an
# input that takes over 10 s, or a sanitizer report fails the run. Without
# clang or its libFuzzer the run is skipped (exit 77).
#
# usage: run_fuzz.sh BUILD_DIR SIMULATE SECONDS [TARGET...]
#   TARGET: cad4 single xcalibur xscans parameter_file (default: all)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 3 ] || { sed -n '2,9p' "$0" >&2; exit 2; }
build=$1 simulate=$2 seconds=$3
shift 3
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(cad4 single xcalibur xscans parameter_file)

cxx=${KALVEX_FUZZ_CXX:-clang++}
mkdir -p "$build"
build=$(cd "$build" && pwd)
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "run_fuzz: no $cxx on this machine: skipped"
  exit 77
fi
probe="$build/probe"
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' >"$probe.cpp"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$probe.cpp" -o "$probe" >"$probe.log" 2>&1; then
  echo "run_fuzz: $cxx does not link libFuzzer (libclang-rt-dev missing?): skipped"
  cat "$probe.log"
  exit 77
fi

jobs=$(nproc 2>/dev/null || echo 1)
[ "$jobs" -le 2 ] || jobs=2
cmake -S "$here" -B "$build/targets" -DCMAKE_CXX_COMPILER="$(command -v "$cxx")" >/dev/null
cmake --build "$build/targets" -j "$jobs" >"$build/build.log" 2>&1 || { tail -n 40 "$build/build.log"; exit 1; }

seeds="$build/seeds"
rm -rf "$seeds"
declare -A extension=([cad4]=dat [single]=dat [xcalibur]=dca [xscans]=p4t)
for format in cad4 single xcalibur xscans; do
  steps=(--steps 24 --standard-steps 24)
  [ "$format" = cad4 ] && steps=()  # CAD4 scans have 96 steps
  "$simulate" --format "$format" --out "$seeds/simulated/$format" --name set --reflections 3 --standards 1 \
    --standards-every 2 "${steps[@]}" >/dev/null
  mkdir -p "$seeds/$format"
  cp "$seeds/simulated/$format/set.${extension[$format]}" "$seeds/$format/"
done
mkdir -p "$seeds/parameter_file"
cp "$seeds/simulated/xcalibur/set.par" "$seeds/parameter_file/"

failed=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  rm -rf "$corpus"
  mkdir -p "$corpus" "$build/artifacts"
  inputs=("$corpus" "$seeds/$target")
  [ -d "$here/seeds/$target" ] && inputs+=("$here/seeds/$target")
  log="$build/$target.log"
  if ! "$build/targets/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -dict="$here/readers.dict" -artifact_prefix="$build/artifacts/$target-" "${inputs[@]}" >"$log" 2>&1; then
    failed+=("$target")
    tail -n 60 "$log"
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^Done [0-9]+ runs|^stat::number_of_executed_units' "$log" | sed "s/^/$target: /" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "run_fuzz: failed: ${failed[*]} (inputs in $build/artifacts)"
  exit 1
fi
echo "run_fuzz: ${#targets[@]} targets, ${seconds} s each, nothing found"
