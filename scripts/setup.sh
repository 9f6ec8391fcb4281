#!/usr/bin/env bash
# Installs what building and testing tavrin needs on a fresh Debian machine:
# a C++ toolchain, CMake, GoogleTest, Google Benchmark, and the Python
# packages (PyTorch pinned to one version; the README says how to get its
# CPU build). Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
command -v g++ >/dev/null || missing+=(g++)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
# The browser tests of tavrin-play drive the system's Chromium.
command -v chromium >/dev/null || missing+=(chromium)
command -v chromedriver >/dev/null || missing+=(chromium-driver)
bash "$(dirname "$0")/install_debian_packages.sh" ${missing[@]+"${missing[@]}"}

python3 -m pip install -q --upgrade pip >/dev/null 2>&1 || true
python3 -m pip install -q -r requirements-dev.txt
