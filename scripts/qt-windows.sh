#!/usr/bin/env bash
# Qt 6 for Windows (MinGW-w64, 64-bit), built from Debian's own source package
# of the Qt the Linux build uses, once, into a cache folder named by Qt's
# version and a digest of everything that shapes the build (the options below,
# the compiler, this script). A later run finds it there and only prints its
# path; a change of version or options builds a new one beside it.
#
#   qt-windows.sh            builds when needed; prints the Qt prefix last
#   qt-windows.sh --prefix   prints the prefix it would use, builds nothing
#
# The cache lives outside the work tree, so that every clone on this machine
# shares it: $VELTRA_QT_CACHE, else $XDG_CACHE_HOME/veltra, else
# ~/.cache/veltra. Nothing is downloaded but from Debian's archive, through
# apt with a sources list and package lists of its own (the machine's apt
# setup is not touched); apt checks the archive's signature and the
# tarball's checksum.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD

log() { echo "--- qt-windows: $*" >&2; }

# The Qt the Linux build compiles against: its version is the source to fetch.
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
if [[ -z $qt_version ]]; then
  echo "qt-windows.sh: qt6-base-dev is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
upstream=${qt_version%%-*}
upstream=${upstream#*:}
upstream=${upstream%%+*}

toolchain=$project/cmake/mingw-w64-x86_64-posix.cmake
# Only what the window and its tests need: Core, Gui, Widgets, Test, the
# windows and offscreen platforms and the Windows style. Every third-party
# library is Qt's bundled copy: the Windows side has no system to take them
# from. tabletevent is off because Debian's tarball lacks wintab.h, which
# the windows platform needs for tablets.
options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF
  -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
  -DFEATURE_imageformatplugin=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_doubleconversion=OFF
)
# Raised when a change of this script changes the Qt it builds.
recipe=1
compiler=$(x86_64-w64-mingw32-g++-posix --version 2>/dev/null | head -n1 || echo none)
digest=$({
  printf '%s\n' "$qt_version" "$compiler" "$recipe" "${options[@]}"
  cat "$toolchain"
} | sha256sum | cut -c1-12)

cache_root=${VELTRA_QT_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/veltra}
prefix=$cache_root/qt-windows-$upstream-$digest
if [[ ${1:-} == --prefix ]]; then
  echo "$prefix"
  exit 0
fi
if [[ -f $prefix/.complete ]]; then
  log "Qt $upstream for Windows found in $prefix"
  echo "$prefix"
  exit 0
fi

# Another run may be building this very Qt: one builder at a time.
mkdir -p "$cache_root"
exec 9>"$cache_root/qt-windows.lock"
flock 9
if [[ -f $prefix/.complete ]]; then
  echo "$prefix"
  exit 0
fi

./scripts/install-deps.sh g++-mingw-w64-x86-64-posix qt6-base-dev-tools dpkg-dev

work=$cache_root/qt-windows-$upstream-$digest.work
rm -rf -- "$work"
mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial" "$work/source"

# ---- The source, from Debian's archive ---------------------------------------
# The suite the machine's own apt uses (bookworm here), with deb-src added.
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
cat >"$work/apt/sources.list" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security $suite-security main
EOF
apt_options=(
  -o "Dir::Etc::sourcelist=$work/apt/sources.list"
  -o Dir::Etc::sourceparts=/dev/null
  -o "Dir::State::Lists=$work/apt/lists"
  -o "Dir::Cache::Archives=$work/apt/archives"
  -o APT::Sandbox::User=root
)
log "fetching qt6-base $qt_version source from Debian's archive"
apt-get "${apt_options[@]}" update -qq
(cd "$work/source" && apt-get "${apt_options[@]}" source -qq "qt6-base=$qt_version" >/dev/null)
src=$(find "$work/source" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)
if [[ -z $src || ! -f $src/CMakeLists.txt ]]; then
  echo "qt-windows.sh: the qt6-base source did not unpack" >&2
  exit 1
fi

# ---- Configure, build, install ------------------------------------------------
log "configuring Qt $upstream for Windows"
cmake -S "$src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  "${options[@]}" >"$work/configure.log" 2>&1 || {
  tail -n 60 "$work/configure.log" >&2
  exit 1
}
log "building Qt $upstream for Windows (about a quarter of an hour on two cores)"
start=$SECONDS
cmake --build "$work/build" >"$work/build.log" 2>&1 || {
  tail -n 60 "$work/build.log" >&2
  exit 1
}
log "built in $((SECONDS - start)) s"
rm -rf -- "$prefix"
cmake --install "$work/build" >"$work/install.log" 2>&1 || {
  tail -n 30 "$work/install.log" >&2
  exit 1
}
printf '%s\n' "$qt_version" >"$prefix/.complete"
rm -rf -- "$work"
log "Qt $upstream for Windows installed in $prefix"
echo "$prefix"
