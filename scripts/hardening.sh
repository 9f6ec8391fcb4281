#!/usr/bin/env bash
# Every reliability check in one go: the sanitizer build with the C++ and
# Python suites, both fuzzers (60 s each by default, side by side), and
# valgrind over the C++ tests. See docs/RELIABILITY.md.
#
#   bash scripts/hardening.sh [--fuzz-seconds N] [--valgrind-build DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=60
valgrind_build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --fuzz-seconds) fuzz_seconds=$2; shift 2 ;;
    --valgrind-build) valgrind_build=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

timed() {
  local started=$SECONDS
  "$@"
  echo "-- $* took $((SECONDS - started))s"
}

timed bash scripts/sanitize.sh
timed bash scripts/fuzz.sh "$fuzz_seconds"
timed bash scripts/valgrind.sh $valgrind_build
