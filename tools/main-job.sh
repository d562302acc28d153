#!/usr/bin/env bash
# Installs what is missing, builds the selvane program, and runs its demo: a
# deep scan of the bundled sample disk image that recovers everything on it
# into ./selvane-demo (photo/, document/, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSELVANE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target selvane
# The demo wants an empty folder; this one is the script's own from an earlier run.
rm -rf selvane-demo
./build/selvane demo
