#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal build
# and once under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

if [ "${SELVANE_SKIP_SANITIZE:-0}" != 1 ]; then
  cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DSELVANE_SANITIZE=ON >/dev/null
  cmake --build build-sanitize -j"$jobs"
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"
fi
