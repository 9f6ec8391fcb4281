#!/usr/bin/env bash
# Sets up a fresh machine and runs every test: the C++ suites under CTest and
# the Python suites under pytest (against the freshly installed package).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

echo "== C++ build and tests"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/test -j2
ctest --test-dir build/test --output-on-failure -j2

echo "== Python package and tests"
python3 -m pip install -q --no-build-isolation ".[train,env,test,ray,play]"
python3 -m pytest -q

# Reliability checks (docs/RELIABILITY.md): ASan + UBSan build with the C++
# and Python suites, both fuzzers for 60 s, valgrind over the tests built above.
bash scripts/hardening.sh --valgrind-build build/test
