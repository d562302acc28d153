#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# fixed time on seeds cut from the test fixtures. A crash stops the run with
# the target's report and leaves the input in build-fuzz/crashes/.
#   fuzz/run.sh [SECONDS_PER_TARGET]   (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELVANE_BUILD_FUZZ=ON \
  -DSELVANE_BUILD_TESTS=ON >/dev/null
targets=(fixtures)
for source in fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

fixtures="$build/fixtures"
seeds="$build/seeds"
rm -rf "$seeds"
mkdir -p "$seeds" "$build/crashes"
python3 fuzz/make_seeds.py "$fixtures" "$seeds"

status=0
for target in "$build"/fuzz/*_fuzz; do
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  echo "== $name (${seconds}s)"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=262144 \
      -artifact_prefix="$build/crashes/$name-" -print_final_stats=0 \
      "$corpus" "$seeds/$name" >"$build/$name.log" 2>&1; then
    echo "$name failed:"; tail -n 60 "$build/$name.log"; status=1
  else
    grep -E '^#[0-9]+.*(DONE|pulse)' "$build/$name.log" | tail -n 1 || true
  fi
done
exit $status
