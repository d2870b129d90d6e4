#!/usr/bin/env bash
# Configures build/release the one way the package test and the speed guard both use, so that neither
# undoes the other's build: the benchmarks are part of the tree, and installing (cpack, cmake --install)
# does not build everything first: each script builds the targets it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release -DTARVO_BUILD_BENCH=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "$@" >/dev/null
