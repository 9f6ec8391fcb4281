#!/usr/bin/env bash
# Builds both libFuzzer targets (clang, with ASan + UBSan) and runs them side
# by side for the given number of seconds each (default 60). The corpora stay
# in the build directory, so repeated local runs start where the last ended.
# A finding fails the run; its input lands in the build directory's
# artifacts/ for reproduction: <fuzzer binary> <input file>.
#
#   bash scripts/fuzz.sh [seconds]      build dir: build-hardening-fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_hardening_tools.sh

seconds=${1:-60}
build=build-hardening-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRIN_BUILD_FUZZERS=ON -DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_BUILD_BENCHMARKS=OFF -DTAVRIN_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" -j2 --target tavrin_game_fuzzer tavrin_network_output_fuzzer

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
mkdir -p "$build/artifacts"

run_fuzzer() {
  local name=$1 binary=$2
  mkdir -p "$build/corpus/$name"
  "$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" "$build/corpus/$name" >"$build/$name.log" 2>&1
}

echo "== Fuzzing for ${seconds}s: engine game and network output, side by side"
run_fuzzer game "$build/rules/tavrin_game_fuzzer" &
game=$!
run_fuzzer network_output "$build/search/fuzz/tavrin_network_output_fuzzer" &
network_output=$!
status=0
wait "$game" || status=1
wait "$network_output" || status=1

for name in game network_output; do
  echo "-- $name: $(grep -m1 'Seed:' "$build/$name.log" | sed 's/.*Seed: /seed /'), $(grep 'stat::number_of_executed_units' "$build/$name.log" | awk '{print $2}') runs, corpus $(ls "$build/corpus/$name" | wc -l) inputs"
done
if [ "$status" -ne 0 ]; then
  for name in game network_output; do tail -n 60 "$build/$name.log"; done
  echo "A fuzzer found a failing input; see $build/artifacts/" >&2
  exit 1
fi
