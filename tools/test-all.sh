#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the tests in a normal
# build, each fuzz target for a short time, then the tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer.
#   SELVANE_FUZZ_SECONDS   seconds per fuzz target (default 10, 0 skips)
#   SELVANE_SKIP_SANITIZE  1 skips the sanitizer build
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

fuzz_seconds=${SELVANE_FUZZ_SECONDS:-10}
if [ "$fuzz_seconds" != 0 ]; then
  ./fuzz/run.sh "$fuzz_seconds"
fi

if [ "${SELVANE_SKIP_SANITIZE:-0}" != 1 ]; then
  cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DSELVANE_SANITIZE=ON >/dev/null
  cmake --build build-sanitize -j"$jobs"
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"
fi
