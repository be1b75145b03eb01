#!/usr/bin/env bash
# Builds the Debian package from the release build, installs it with apt,
# checks that the installed window program starts and that its desktop entry
# is valid, and removes the package again. Called by scripts/test.sh after the
# release build; fails on any step.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
# dpkg-shlibdeps finds the package's library dependencies; desktop-file-validate
# checks the entry. Only this step needs them.
./scripts/install-deps.sh dpkg-dev desktop-file-utils

(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/boot-loader-veltra_*.deb | head -n 1)
echo "Package: $deb"
dpkg-deb --field "$deb" Package Version Depends

removed=0
remove() {
  if ((removed == 0)); then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq boot-loader-veltra >/dev/null || true
    removed=1
  fi
}
trap remove EXIT
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "./$deb" >/dev/null

for program in boot-loader-veltra veltra-load veltra-sim; do
  [[ -x /usr/bin/$program ]] || { echo "package-check: /usr/bin/$program is not installed" >&2; exit 1; }
done
[[ -f /usr/share/icons/hicolor/256x256/apps/boot-loader-veltra.png ]] ||
  { echo "package-check: the icon is not installed" >&2; exit 1; }
desktop-file-validate /usr/share/applications/boot-loader-veltra.desktop

# The installed window starts and is still running a few seconds later.
QT_QPA_PLATFORM=offscreen /usr/bin/boot-loader-veltra &
window=$!
sleep 3
if ! kill -0 "$window" 2>/dev/null; then
  wait "$window" || true
  echo "package-check: the installed window program did not keep running" >&2
  exit 1
fi
kill -TERM "$window"
wait "$window" || true
remove
[[ ! -e /usr/bin/boot-loader-veltra ]] || { echo "package-check: the package was not removed" >&2; exit 1; }
echo "package-check: installed, started, entry valid, removed"
