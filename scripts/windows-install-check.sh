#!/usr/bin/env bash
# Proves the Windows installer under Wine, in a fresh Wine prefix, as an
# operator's machine would see it:
#
#   windows-install-check.sh [FILE.msi]
#
# FILE.msi is by default the one scripts/windows-package.sh made
# (build/windows/package/boot-loader-veltra-VERSION-win64.msi). In order:
#
#   1. a fresh prefix (build/windows/install-prefix) whose registry maps COM1
#      to the path where the Linux simulator publishes its pseudo-terminal;
#   2. msiexec /i, quiet: every file of the package folder in
#      "C:\Program Files\Boot Loader Veltra", the Start-menu entry, the entry
#      in the list of installed programs (name, version, publisher, icon);
#   3. the installed window starts and shows itself on a virtual X server
#      (screenshot: build/windows/package/installed-window.png), and ends
#      with exit code 0 when closed with Alt+F4;
#   4. the installed veltra-load.exe: --version, then a download of a 3000-byte
#      file through COM1 to the simulated device, which must then hold the
#      file, padded to whole blocks;
#   5. scripts/wine-window.sh on the installed folder: a download through the
#      installed window, driven by mouse and keyboard, at 100 % and 150 %;
#   6. msiexec /x, quiet: no file, folder, Start-menu entry or registration
#      left;
#   7. upgrades: an MSI of the same version rebuilt (another product code)
#      and then one of the next version each replace the installed one; the
#      first MSI then refuses to go over the newer; removing the newer leaves
#      nothing. The two come from the package folder through
#      packaging/windows/make-msi.sh.
#
# One line per step passed; the first step that fails ends the check with a
# message and exit code 1. Logs of the last run: build/windows/install-check/.
# All Wine work runs in a mount namespace whose /dev has no serial devices
# (scripts/wine-namespace.sh), so that COM1 is the simulator alone.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD

fail() {
  echo "windows-install-check.sh: FAILED: $*" >&2
  exit 1
}
step_start=$SECONDS
passed() {
  echo "windows-install-check.sh: ok ($((SECONDS - step_start)) s): $*"
  step_start=$SECONDS
}

build=$project/build/windows
work=$build/install-check
prefix=$build/install-prefix
package=$build/package
sim=$project/build/debug/sim/veltra-sim

# ---- Outside the namespace: what the check needs, the two extra MSIs -----------
if [[ ${1:-} != --in-namespace ]]; then
  [[ -f $build/CMakeCache.txt ]] || fail "no Windows build in $build"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
  msi=${1:-$package/boot-loader-veltra-$version-win64.msi}
  [[ -f $msi ]] || fail "no installer $msi: scripts/windows-package.sh makes it"
  msi=$(realpath -- "$msi")
  [[ -f $package/root/boot-loader-veltra.exe ]] ||
    fail "no package folder $package/root: scripts/windows-package.sh makes it"

  # fonts-wine: Wine's own fonts, for the window's captions (as in
  # scripts/windows-tests.sh).
  ./scripts/install-deps.sh wine wine64 fonts-wine xvfb xauth xdotool imagemagick wixl
  if [[ ! -x $sim ]]; then
    cmake --preset debug >/dev/null
    cmake --build --preset debug --target veltra-sim
  fi

  if [[ -d $prefix ]]; then
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true  # a server left by an earlier run
  fi
  rm -rf -- "$work" "$prefix"
  mkdir -p "$work"

  IFS=. read -r major minor build_number _ <<<"$version"
  next_version=$major.$minor.$((${build_number:-0} + 1))
  packaging/windows/make-msi.sh "$package/root" "$version" "$work/rebuilt.msi"
  packaging/windows/make-msi.sh "$package/root" "$next_version" "$work/next.msi"
  exec ./scripts/wine-namespace.sh "$0" --in-namespace "$msi" "$version" "$next_version"
fi

# ---- Inside the namespace ---------------------------------------------------------
msi=$2 version=$3 next_version=$4
root=$package/root
com1=$work/com1
installed=$prefix/drive_c/Program\ Files/Boot\ Loader\ Veltra
installed_win='C:\Program Files\Boot Loader Veltra'

# Nothing of the Linux Qt's settings may reach the Windows programs (the test
# presets set QT_QPA_PLATFORM=offscreen, a plugin that is not shipped).
while IFS= read -r name; do unset "$name"; done < <(compgen -e | grep '^QT_' || true)
export WINEPREFIX=$prefix WINEDEBUG=-all
# No Mono or Gecko (their installers would ask), and no menu entries of the
# installed program on this Linux desktop (winemenubuilder).
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

sim_pid="" xvfb_pid="" window_pid=""
cleanup() {
  if [[ -n $window_pid ]]; then kill -KILL "$window_pid" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
  if [[ -n $sim_pid ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; fi
  if [[ -n $xvfb_pid ]]; then kill -TERM "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# wait_until SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || fail "$what did not happen within $seconds s"
    sleep 0.2
  done
}

process_ended() { ! kill -0 "$1" 2>/dev/null; }

# run_msiexec ACTION FILE LOG: quiet, with a verbose log; sets status to
# msiexec's exit status (its low 8 bits: 1603 comes as 67).
run_msiexec() {
  status=0
  wine msiexec "$1" "$(winepath -w "$2" 2>/dev/null)" /qn /l*v "$(winepath -w "$3" 2>/dev/null)" \
    >>"$work/wine.log" 2>&1 || status=$?
}
# msiexec_ok ACTION FILE LOG: the same, failing the check unless it succeeds.
msiexec_ok() {
  run_msiexec "$@"
  ((status == 0)) || fail "msiexec $1 $2 ended with status $status (log: $3)"
}

# The entries of the list of installed programs named Boot Loader Veltra, one
# line each: DisplayVersion, Publisher (tab-separated).
uninstall_entries() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk -F '    ' '
      function flush() { if (name == "Boot Loader Veltra") print version "\t" publisher }
      /^HKEY_/ { flush(); name = version = publisher = ""; next }
      $2 == "DisplayName" { name = $4 }
      $2 == "DisplayVersion" { version = $4 }
      $2 == "Publisher" { publisher = $4 }
      END { flush() }'
}

# The Start-menu entry, for all users or for the user (Wine puts it there).
shortcuts() {
  find "$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu" \
    "$prefix/drive_c/users" -name 'Boot Loader Veltra.lnk' 2>/dev/null || true
}

# The one installed product is VERSION, with its files, entry and icon.
check_installed() {
  local expected_version=$1 entries shortcut
  # The very files of the package folder, and nothing else.
  [[ -d $installed ]] || fail "no folder $installed_win"
  diff <(cd "$root" && find . -type f | LC_ALL=C sort) <(cd "$installed" && find . -type f | LC_ALL=C sort) \
    >"$work/files.diff" || fail "the installed files are not those of the package folder: $(cat "$work/files.diff")"
  while IFS= read -r -d '' file; do
    cmp -s -- "$root/$file" "$installed/$file" || fail "$installed_win\\$file differs from the package's"
  done < <(cd "$root" && find . -type f -printf '%P\0')

  shortcut=$(shortcuts)
  [[ -n $shortcut ]] || fail "no Start-menu entry Boot Loader Veltra.lnk"
  strings -e l "$shortcut" | grep -qi 'Boot Loader Veltra\\boot-loader-veltra\.exe' ||
    strings "$shortcut" | grep -qi 'Boot Loader Veltra\\boot-loader-veltra\.exe' ||
    fail "the Start-menu entry $shortcut does not lead to boot-loader-veltra.exe"

  entries=$(uninstall_entries)
  [[ $entries == "$expected_version"$'\t'"Boot Loader Veltra developers" ]] ||
    fail "the list of installed programs should hold Boot Loader Veltra $expected_version once, by Boot Loader Veltra developers; it holds: ${entries:-nothing}"
  # ARPPRODUCTICON: Windows Installer keeps the icon for the list.
  local icon
  icon=$(wine reg query 'HKLM\Software\Classes\Installer\Products' /s 2>/dev/null | tr -d '\r' |
    awk -F '    ' '$2 == "ProductIcon" { print $4 }' | grep -i 'boot_loader_veltra\.ico' | head -n 1 || true)
  [[ -n $icon ]] || fail "no product icon registered for the list of installed programs"
  [[ -f $(winepath -u "$icon" 2>/dev/null) ]] || fail "the product icon $icon is not there"
}

check_removed() {
  [[ ! -e $installed ]] || fail "$installed_win is still there: $(cd "$installed" && find . | head -n 5 | tr '\n' ' ')"
  [[ -z $(shortcuts) ]] || fail "the Start-menu entry is still there: $(shortcuts)"
  local entries
  entries=$(uninstall_entries)
  [[ -z $entries ]] || fail "the list of installed programs still holds Boot Loader Veltra: $entries"
  ! wine reg query 'HKLM\Software\Boot Loader Veltra' >/dev/null 2>&1 ||
    fail "the key HKLM\\Software\\Boot Loader Veltra is still there"
  ! wine reg query 'HKLM\Software\Classes\Installer\Products' /s 2>/dev/null | grep -qi 'Boot Loader Veltra' ||
    fail "Windows Installer still knows the product"
}

# ---- 1. A fresh prefix, COM1 mapped --------------------------------------------------
# The virtual X server comes first: Wine's desktop process, started with the
# first program of a server, draws every window of that server, and without
# a display at its start it draws none.
source "$project/scripts/wine-common.sh"
start_virtual_display "$work/xvfb.log" 1024x768x24

wineboot --init >>"$work/wine.log" 2>&1 || fail "wineboot could not make a prefix in $prefix"
add_wine_fonts "$prefix"
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$com1" /f >>"$work/wine.log" 2>&1
# Window frames drawn by Wine itself, with the title and the program's icon:
# there is no window manager to draw them.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$work/wine.log" 2>&1
wineserver -w # the ports are read when a server starts: this one ends first
passed "fresh Wine prefix $prefix, COM1 at $com1"

# ---- 2. Install ------------------------------------------------------------------------
msiexec_ok /i "$msi" "$work/install.log"
passed "msiexec /i $(basename "$msi")"
check_installed "$version"
passed "installed: the package's files in $installed_win, the Start-menu entry, Boot Loader Veltra $version in the list of installed programs with its icon"

# ---- 3. The installed window ---------------------------------------------------------

window_shown() { xdotool search --onlyvisible --name '^Boot Loader Veltra$' >/dev/null 2>&1; }
# Started by its Windows path, as the Start-menu entry starts it.
wine "$installed_win\\boot-loader-veltra.exe" >"$work/window.log" 2>&1 &
window_pid=$!
wait_until 90 "the installed window appearing" window_shown
window_id=$(xdotool search --onlyvisible --name '^Boot Loader Veltra$' | head -n 1)
sleep 1 # its first paint
import -window "$window_id" "$package/installed-window.png" || fail "no screenshot of the installed window"
timeout 10 xdotool windowfocus --sync "$window_id" || fail "the installed window took no keyboard focus"
xdotool key alt+F4
wait_until 30 "the window program ending on Alt+F4" process_ended "$window_pid"
status=0
wait "$window_pid" || status=$?
window_pid=""
((status == 0)) || fail "the installed window ended with exit code $status: $(tail -n 5 "$work/window.log")"
passed "the installed window appeared (screenshot $package/installed-window.png) and closed on Alt+F4 with exit code 0"

# ---- 4. The installed veltra-load -------------------------------------------------------
load=$installed_win\\veltra-load.exe
status=0
said=$(wine "$load" --version 2>>"$work/wine.log" | tr -d '\r') || status=$?
[[ $status == 0 && $said == "veltra-load (Boot Loader Veltra) $version" ]] ||
  fail "veltra-load.exe --version said '$said' with exit code $status"
passed "veltra-load.exe --version: $said"

firmware=$work/firmware.bin saved=$work/loaded.bin
size=3000
head -c "$size" /dev/urandom >"$firmware"
exec {from_sim}< <(exec "$sim" --link "$com1" --save "$saved" 2>&1)
sim_pid=$!
line=""
if ! IFS= read -r -t 30 -u "$from_sim" line || [[ $line != *"Ctrl-C ends"* || ! -L $com1 ]]; then
  fail "the simulator did not publish $com1: ${line:-it said nothing}"
fi
cat <&"$from_sim" >"$work/sim.log" &
exec {from_sim}<&-
status=0
wine "$load" --port COM1: "$(winepath -w "$firmware" 2>/dev/null)" >"$work/load.out" 2>"$work/load.err" || status=$?
kill -TERM "$sim_pid" 2>/dev/null || true
wait_until 10 "the simulator ending" process_ended "$sim_pid"
sim_pid=""
# Whole 64-byte blocks: the file, then 0xFF to the end of the closing block
# (a file of whole blocks gets one more, blank).
expected_bytes=$(((size / 64 + 1) * 64))
closing=$(tr -d '\r' <"$work/load.out" | awk 'NF { last = $0 } END { print last }')
((status == 0)) || fail "veltra-load.exe ended with exit code $status: $closing $(tail -n 3 "$work/load.err")"
[[ $closing == "Successful - $expected_bytes Bytes" ]] ||
  fail "veltra-load.exe closed with '$closing', not 'Successful - $expected_bytes Bytes'"
{
  cat "$firmware"
  head -c "$((expected_bytes - size))" /dev/zero | tr '\0' '\377'
} >"$work/expected.bin"
[[ -f $saved ]] || fail "the simulator saved nothing ($work/sim.log)"
cmp -s "$work/expected.bin" "$saved" ||
  fail "the device holds other bytes than the file ($saved against $work/expected.bin)"
passed "veltra-load.exe --port COM1: $size bytes: '$closing', the device holds the file"

# ---- 5. The installed window at work ---------------------------------------------------
# A download through the installed window as an operator makes it, by mouse
# and keyboard, at 100 % and at 150 %: the installed folder alone (without
# the test DLLs and plugins of the build's bin/) carries the whole window,
# its file dialog included. wine-window.sh sets COM1 and the dpi in this
# prefix for its own runs and ends its Wine server.
./scripts/wine-window.sh "$installed" >"$work/wine-window.log" 2>&1 ||
  fail "the installed window's download (scripts/wine-window.sh): $(tail -n 3 "$work/wine-window.log")"
passed "the installed window loaded a file through COM1 at 100 % and 150 % (scripts/wine-window.sh)"

# ---- 6. Uninstall -------------------------------------------------------------------------
msiexec_ok /x "$msi" "$work/uninstall.log"
check_removed
passed "msiexec /x: no file, Start-menu entry or registration left"

# ---- 7. Upgrades ---------------------------------------------------------------------------
msiexec_ok /i "$msi" "$work/upgrade-1.log"
msiexec_ok /i "$work/rebuilt.msi" "$work/upgrade-2.log"
check_installed "$version"
passed "a rebuilt MSI of $version replaced the installed one"
msiexec_ok /i "$work/next.msi" "$work/upgrade-3.log"
check_installed "$next_version"
passed "an MSI of $next_version replaced $version"
run_msiexec /i "$msi" "$work/upgrade-4.log"
((status != 0)) || fail "the MSI of $version installed over $next_version"
check_installed "$next_version"
passed "the MSI of $version refused to replace $next_version (status $status)"
msiexec_ok /x "$work/next.msi" "$work/upgrade-5.log"
check_removed
passed "msiexec /x of $next_version: nothing left"

# The prefix (some 700 MB) goes once everything has passed; after a failure
# it stays for a look, and the next run makes a fresh one anyway.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
rm -rf -- "$prefix" "$work/rebuilt.msi" "$work/next.msi"
