#!/usr/bin/env bash
# Sets up the machine, builds the program (the window, veltra-load from a
# terminal, the simulator) in release mode and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target boot-loader-veltra veltra-load veltra-sim
exec ./build/release/src/boot-loader-veltra "$@"
