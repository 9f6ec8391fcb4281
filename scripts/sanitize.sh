#!/usr/bin/env bash
# AddressSanitizer + UndefinedBehaviorSanitizer: builds the engine and search
# tests and the extension module with both sanitizers, runs the C++ tests
# (leak checking on), then the module and hardening pytest suites against the
# sanitized module. Any sanitizer report fails the run.
#
#   bash scripts/sanitize.sh            build dir: build-hardening-asan
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_hardening_tools.sh

build=build-hardening-asan
# g++ builds it so that its own libasan can be preloaded into the interpreter.
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRIN_SANITIZE=ON -DTAVRIN_BUILD_BENCHMARKS=OFF -DTAVRIN_BUILD_TESTS=ON -DTAVRIN_BUILD_PYTHON=ON >/dev/null
cmake --build "$build" -j2

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

echo "== C++ tests under ASan + UBSan"
# The pytest entry needs the preloaded runtime; it runs below instead.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  ctest --test-dir "$build" -E tavrin_self_play_pytest --output-on-failure -j2

echo "== Python suites against the sanitized module"
# The interpreter is not built with ASan, so its runtime must come first;
# libstdc++ too, or ASan cannot intercept C++ throws. The interpreter's own
# allocations are not leak-checked (it frees little at exit): the leak test
# counts references and resident memory instead. PYTHONMALLOC=malloc lets
# ASan see every Python object, so a reference dropped too early is a
# use-after-free report rather than silent reuse.
LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 PYTHONMALLOC=malloc \
  TAVRIN_SELF_PLAY_DIR="$PWD/$build/bindings" \
  python3 -m pytest -q -p no:cacheprovider tests/tavrin_self_play tests/hardening tests/tavrin_engine
