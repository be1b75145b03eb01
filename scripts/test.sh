#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test twice: a plain debug
# build, and a build under AddressSanitizer and UndefinedBehaviorSanitizer.
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
