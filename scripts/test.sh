#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test twice: a plain debug
# build, and a build under AddressSanitizer and UndefinedBehaviorSanitizer.
# Then a release build of every target and its Debian package installed and
# tried (scripts/package-check.sh), a minute of the reply fuzzer, and last the
# Windows build's tests under Wine (scripts/windows-tests.sh). Between the two,
# the port and veltra-load on the kernel's own serial drivers in a virtual
# machine (scripts/vm-tests.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=$(nproc)
for preset in debug sanitize; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$jobs"
done

# The release build of every target, with warnings as errors: the optimiser
# warns about things the debug build never sees. Its tests are those above.
echo "=== release ==="
cmake --preset release >/dev/null
cmake --build --preset release
echo "=== package ==="
./scripts/package-check.sh

echo "=== fuzz ==="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
fuzzer=./build/fuzz/fuzz/reply_fuzzer
findings=build/fuzz/findings/
mkdir -p "$findings"
# Every seed input once on its own first: the start of the fork mode below
# drops a seed that crashes instead of failing on it.
"$fuzzer" -timeout=10 -artifact_prefix="$findings" fuzz/corpus/*
# The fuzzer works on a copy of the seed inputs, so what it adds stays out of
# the tree. A run mostly sleeps in the exchange's pauses, so eight processes
# share the minute, even on two cores. A crash, a sanitizer report, a broken
# oracle or an input slower than the timeout fails the script; the input is
# kept in the findings folder.
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/* "$corpus"/
"$fuzzer" -fork=8 -ignore_crashes=0 -ignore_timeouts=0 -ignore_ooms=0 \
  -max_total_time=60 -timeout=10 -max_len=1024 -artifact_prefix="$findings" "$corpus"

echo "=== vm ==="
./scripts/vm-tests.sh

echo "=== windows ==="
./scripts/windows-tests.sh
