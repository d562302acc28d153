#!/usr/bin/env bash
# Installs what is missing, builds the selvane program, and runs it on the
# bundled sample image.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSELVANE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target selvane
mkdir -p build/samples
xz -dc samples/sample.img.xz > build/samples/sample.img
./build/selvane probe build/samples/sample.img
./build/selvane probe --json build/samples/sample.img
