#!/usr/bin/env bash
# Builds the CI configuration (Debug, ASan + UBSan) once and runs the whole test suite, then builds and
# checks the Debian package and runs the speed guard.
# Fails on a failing test and on any sanitizer report, also one from a child process.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset ci
cmake --build --preset ci -j "$(nproc)"

reports="$(pwd)/build/ci/sanitizer-reports"
rm -rf "$reports" && mkdir -p "$reports"
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

status=0
ctest --preset ci -j "$(nproc)" || status=$?

# The Debian package, built from the release configuration and tried out in a throw-away root.
TARVO_JOBS="$(nproc)" bash scripts/package-test.sh || status=1
# The speed guard: the benchmarks' ratios against their goals, on the same release build.
TARVO_JOBS="$(nproc)" bash scripts/bench-guard.sh || status=1

if compgen -G "$reports/*" >/dev/null; then
  echo "Sanitizer reports:"
  for f in "$reports"/*; do echo "== $f"; cat "$f"; done
  status=1
fi
exit $status
