#!/usr/bin/env bash
# Builds the Windows installer of an installed folder with wixl (msitools):
#
#   make-msi.sh ROOT VERSION OUT.msi
#
# ROOT is what `cmake --install` put there (the two programs, their DLLs and
# plugins, the icon). Every file of it is installed into
# "C:\Program Files\Boot Loader Veltra", in the same folders; wixl-heat lists
# them as components, and boot-loader-veltra.wxs beside this script adds the
# product, the Start-menu entry and the icon. scripts/windows-package.sh calls
# this; scripts/windows-install-check.sh too, for a second version to upgrade
# to.
set -euo pipefail

if (($# != 3)); then
  echo "usage: make-msi.sh ROOT VERSION OUT.msi" >&2
  exit 2
fi
root=$(cd "$1" && pwd)
version=$2
out=$3
here=$(cd "$(dirname "$0")" && pwd)

if [[ ! $version =~ ^[0-9]+(\.[0-9]+){1,3}$ ]]; then
  echo "make-msi.sh: '$version' is no Windows Installer version (two to four numbers)" >&2
  exit 2
fi
IFS=. read -r major minor build _ <<<"$version"
next_build=$major.$minor.$((${build:-0} + 1))
for file in boot-loader-veltra.exe veltra-load.exe boot-loader-veltra.ico; do
  if [[ ! -f $root/$file ]]; then
    echo "make-msi.sh: $root has no $file" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

# The files of the top folder first: wixl-heat starts a new directory entry
# whenever the folder changes from one line to the next, so an unsorted list
# gives the top folder twice. Component GUIDs are "*": wixl derives each from
# the component's installed path, so they stay the same from one build to the
# next, and a new DLL is simply one more line.
(
  cd "$root"
  find . -maxdepth 1 -type f | LC_ALL=C sort
  find . -mindepth 2 -type f | LC_ALL=C sort
) | wixl-heat -p ./ --directory-ref INSTALLFOLDER --component-group ProgramFiles \
  --var var.Root --win64 >"$work/files.wxs"

# wixl (0.101) finds a source file by a path relative to the folder it runs
# in only, so it runs in ROOT.
if ! (cd "$root" && wixl -a x64 -D Version="$version" -D NextBuild="$next_build" -D Root=. -D Win64=yes \
  -o "$work/out.msi" "$here/boot-loader-veltra.wxs" "$work/files.wxs") 2>"$work/wixl.log"; then
  cat "$work/wixl.log" >&2
  echo "make-msi.sh: wixl failed" >&2
  exit 1
fi
# wixl warns of attributes it does not know but goes on: such a warning is an
# installer that is not what boot-loader-veltra.wxs says.
if [[ -s $work/wixl.log ]]; then
  cat "$work/wixl.log" >&2
  echo "make-msi.sh: wixl complained (above)" >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
mv -f -- "$work/out.msi" "$out"
