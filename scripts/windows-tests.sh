#!/usr/bin/env bash
# The Windows side, proved on this Linux machine: the window, veltra-load and
# their tests cross-compiled with MinGW-w64, run under Wine with COM1 mapped
# to the pseudo-terminal of the simulated device (the Linux veltra-sim).
# Called by scripts/test.sh after the Linux suites; fails when any Windows
# test fails.
#
# Steps: the cross compiler and Wine (installed when missing), Qt for Windows
# (scripts/qt-windows.sh: built once from Debian's source, then taken from
# its cache), the Linux simulator and the program's icon, GoogleTest for
# MinGW (from Debian's sources in /usr/src/googletest, installed under
# build/gtest-mingw), the `windows` preset, a fresh Wine prefix with COM1 in
# its registry, and ctest for build/windows, all Wine work in a mount
# namespace of its own; then the installer and the zip
# (scripts/windows-package.sh) and their check under Wine
# (scripts/windows-install-check.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

step_start=$SECONDS
step_done() {
  echo "--- windows: $1 in $((SECONDS - step_start)) s"
  step_start=$SECONDS
}

# ---- Inside the mount namespace (the script calls itself there, through
# scripts/wine-namespace.sh: a /dev without serial devices) --------------------
if [[ ${1:-} == --in-namespace ]]; then
  prefix=$2 com1=$3
  fail() {
    echo "windows-tests.sh: $*" >&2
    exit 1
  }
  source scripts/wine-common.sh
  export WINEPREFIX=$prefix WINEDEBUG=-all
  # No Mono or Gecko: nothing here needs them, and their installers would ask.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  trap 'wineserver -k 2>/dev/null || true' EXIT

  # Wine's own programs keep running after the first program of a server
  # ends, with that program's output: they are sent away here, or they would
  # hold ctest's output pipe open.
  wineboot --init >/dev/null 2>&1
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$com1" /f >/dev/null 2>&1
  # Windows without a screen: the window tests paint offscreen, but Qt's
  # event loop on Windows still needs windows of its own, which Wine makes
  # only with a graphics driver; its null driver needs no display.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  add_wine_fonts "$prefix"
  wineserver -w  # the ports are read at a server's start: this one ends first
  step_done "Wine prefix made"

  wineserver -p >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1
  if [[ "$(readlink "$prefix/dosdevices/com1" || true)" != "$com1" ]]; then
    echo "windows-tests.sh: Wine did not map COM1 to $com1" >&2
    exit 1
  fi
  status=0
  ctest --test-dir build/windows --output-on-failure -j "$(nproc)" || status=$?
  step_done "tests run"
  exit "$status"
fi

# ---- The cross compiler and Wine --------------------------------------------
# Asked for here, not in install-deps.sh's own list: about 1.4 GB that only
# this step needs, which the start command should not pull in.
# fonts-wine: Wine's own Tahoma, the font Windows gives the window's captions
# (without it they come out in a serif fallback).
./scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 fonts-wine
step_done "cross compiler and Wine present"

# ---- Qt for Windows ------------------------------------------------------------
./scripts/qt-windows.sh >/dev/null
step_done "Qt for Windows present"

# ---- The Linux simulator, the peer of every port test; the program's icon -----
cmake --preset debug >/dev/null
cmake --build --preset debug --target veltra-sim program-icon
step_done "Linux simulator and icon built"

# ---- GoogleTest for MinGW --------------------------------------------------
# Built from the sources that libgtest-dev ships, with the project's toolchain
# and language level (a C++20 program prints char8_t strings through it).
gtest=$PWD/build/gtest-mingw
cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64-posix.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_STANDARD=20 -DBUILD_GMOCK=OFF \
  -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
cmake --build "$gtest/build"
cmake --install "$gtest/build" >/dev/null
step_done "GoogleTest for MinGW built"

# ---- The window, veltra-load and the Windows tests ------------------------------
cmake --preset windows >/dev/null
cmake --build --preset windows
step_done "window, veltra-load and Windows tests built"

# ---- Wine: a fresh prefix, COM1 mapped, the tests ------------------------------
cache_value() { sed -n "s/^$1:[A-Z]*=//p" build/windows/CMakeCache.txt; }
prefix=$(cache_value VELTRA_WINEPREFIX)
com1=$(cache_value VELTRA_COM1_LINK)
if [[ -z $prefix || -z $com1 ]]; then
  echo "windows-tests.sh: build/windows names no Wine prefix or COM1 path" >&2
  exit 1
fi
if [[ -d $prefix ]]; then
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true  # a server left by an earlier run
  rm -rf -- "$prefix"
fi
# The simulator needs no namespace; only Wine must not see the serial devices.
./scripts/wine-namespace.sh "$0" --in-namespace "$prefix" "$com1"

# ---- What an operator installs: the MSI and the zip, and the MSI proved ------------
# In a fresh prefix of its own: installed, its window started, its
# veltra-load.exe and its window each used for a download, then removed.
./scripts/windows-package.sh
step_done "installer and zip made"
./scripts/windows-install-check.sh
step_done "installer checked under Wine"
