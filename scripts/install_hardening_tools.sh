#!/usr/bin/env bash
# Installs what the hardening checks need beyond scripts/setup.sh: clang with
# the libFuzzer runtime, and valgrind. Safe to run again.
set -euo pipefail

missing=()
command -v clang++-14 >/dev/null || missing+=(clang-14)
compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null || missing+=(libclang-rt-14-dev)
command -v valgrind >/dev/null || missing+=(valgrind)
bash "$(dirname "$0")/install_debian_packages.sh" ${missing[@]+"${missing[@]}"}
