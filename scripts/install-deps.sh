#!/usr/bin/env bash
# Installs every system package the project needs, from Debian's archive.
# Quick when everything is already there: apt is only asked for what is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config   # the build
  libgtest-dev                       # the tests
  clang libclang-rt-dev              # the reply fuzzer; clang only recommends the runtimes that hold libFuzzer
  qt6-base-dev qt6-qpa-plugins       # the window; the offscreen platform for window tests
  fonts-dejavu-core                  # the window tests measure captions in a real font
  xvfb xauth x11-apps                # looking at the window on a virtual X server
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
