#!/usr/bin/env bash
# Valgrind memcheck over the C++ test binaries of a build without
# sanitizers: any invalid access, use of uninitialised memory or definite
# leak fails the run.
#
#   bash scripts/valgrind.sh              builds build-hardening-valgrind
#   bash scripts/valgrind.sh BUILD_DIR    uses the tests already built there
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_hardening_tools.sh

build=${1:-}
if [ -z "$build" ]; then
  build=build-hardening-valgrind
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_SANITIZE=OFF \
    -DTAVRIN_BUILD_TESTS=ON -DTAVRIN_BUILD_BENCHMARKS=OFF -DTAVRIN_BUILD_PYTHON=OFF >/dev/null
  cmake --build "$build" -j2 --target tavrin_rules_tests tavrin_search_tests
fi

echo "== C++ tests under valgrind memcheck ($build)"
for binary in "$build/rules/tavrin_rules_tests" "$build/search/tavrin_search_tests"; do
  valgrind --tool=memcheck --quiet --error-exitcode=99 --leak-check=full \
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
    "$binary" --gtest_brief=1
done
