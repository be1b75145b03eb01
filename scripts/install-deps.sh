#!/usr/bin/env bash
# Installs system packages from Debian's archive, asking apt only for what is
# missing, so it is quick when everything is already there.
#   install-deps.sh             what the build, the tests and the window need
#   install-deps.sh PACKAGE...  just these, without recommended packages (the
#                               extra steps of the test command)
set -euo pipefail

recommends=()
packages=(
  g++ cmake ninja-build pkg-config   # the build
  libgtest-dev                       # the tests
  libssl-dev                         # SHA-256 of a firmware image (libcrypto)
  nlohmann-json3-dev                 # veltra-load's log lines (JSON)
  clang libclang-rt-dev              # the reply fuzzer; clang only recommends the runtimes that hold libFuzzer
  qt6-base-dev qt6-qpa-plugins       # the window; the offscreen platform for window tests
  fonts-dejavu-core                  # the window tests measure captions in a real font
  xvfb xauth x11-apps                # looking at the window on a virtual X server
)
if (($# > 0)); then
  packages=("$@")
  recommends=(--no-install-recommends)
fi

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
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${recommends[@]}" "${missing[@]}"
