#!/usr/bin/env bash
# The Windows window under Wine, used as an operator uses it: on a virtual X
# server, with the mouse and the keyboard (xdotool), against the simulated
# device on COM1. "Open COM port", "Open File" (Windows' own file dialog,
# where the firmware file's path is typed), "RUN"; then the status line must
# say the whole file went through, the device must hold exactly the file, and
# the window must close on Alt+F4 with exit code 0.
#
#   wine-window.sh [FOLDER]                  at 100 % (96 dpi), then at 150 % (144 dpi)
#   wine-window.sh --bench [RUNS] [FOLDER]   the figures (below); RUNS of each, default 3
#
# FOLDER holds boot-loader-veltra.exe with its DLLs (default build/windows/bin;
# the install check passes the folder the installer filled). With WINEPREFIX
# set, that prefix is used (its Wine server is ended first: Wine reads the
# ports and the dpi when a server starts); else a fresh one is made in
# build/windows/wine-window/prefix. Screenshots of the window after each
# download go to build/windows/screenshots (window-download.png at 100 %,
# window-150.png at 150 %); on a failure the whole screen is kept there as
# window-failure.png. Logs of the last run: build/windows/wine-window/.
#
# The status lines are read from the window's own message log (the category
# veltra.status on standard error), not from the screen.
#
# --bench prints, as min / median:
#   - start to first paint: the start probes (bench/start_probe_*, each ends
#     right after its window's first paint) of the Windows build in FOLDER
#     under Wine against those of the Linux release build on the same X
#     server, the four alternating, 3 x RUNS rounds; the ratio of the tool
#     under Wine to the tool on Linux, and of the tool to the empty window on
#     each side, for what the tool itself adds;
#   - RUNS downloads of 32 KiB through the window under Wine against the
#     device paced at 19200 baud, from "Wait connecting" to "Successful" by
#     the window's own log clock, as a ratio to the protocol's floor (29.23 s).
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD

fail() {
  echo "wine-window.sh: $*" >&2
  exit 1
}

# bounded SECONDS WHAT COMMAND...: runs COMMAND, its output to nowhere; fails
# naming WHAT when it fails or is not done within SECONDS.
bounded() {
  local seconds=$1 what=$2
  shift 2
  timeout "$seconds" "$@" >/dev/null 2>&1 || fail "$what failed or took more than $seconds s"
}

# xdotool answers at once; a bound only keeps a lost X server from hanging the run.
xdo() { timeout 10 xdotool "$@"; }

if [[ ${1:-} != --in-namespace ]]; then
  bench=0 runs=3
  if [[ ${1:-} == --bench ]]; then
    bench=1
    shift
    if [[ ${1:-} =~ ^[0-9]+$ ]]; then runs=$1; shift; fi
  fi
  folder=${1:-build/windows/bin}
  [[ -f $folder/boot-loader-veltra.exe ]] ||
    fail "no boot-loader-veltra.exe in $folder (build the windows preset with the window, or name the folder that holds it)"
  folder=$(realpath -- "$folder")

  ./scripts/install-deps.sh wine wine64 xvfb xdotool imagemagick
  if [[ ! -x build/debug/sim/veltra-sim ]]; then
    cmake --preset debug >/dev/null
    cmake --build --preset debug --target veltra-sim
  fi
  if ((bench)); then
    # The Linux probes of the same start, the yardstick of the first paint.
    cmake --preset release >/dev/null
    cmake --build --preset release --target start_probe_window start_probe_minimal
  fi
  # One run at a time: runs share the work folder and the screenshots, and a
  # second run would load the machine under the first one's figures. The lock
  # stays with flock itself, not with the Wine server that outlives a run.
  lock=$project/build/windows/wine-window.lock
  mkdir -p "$(dirname "$lock")"
  if ! flock -n "$lock" true; then
    echo "wine-window.sh: another run holds $lock; waiting for it to end (at most 20 minutes)" >&2
  fi
  status=0
  # Wine must not see the machine's serial devices: COM1 is the simulator alone.
  flock -o -w 1200 -E 75 "$lock" ./scripts/wine-namespace.sh \
    "$project/scripts/wine-window.sh" --in-namespace "$bench" "$runs" "$folder" || status=$?
  ((status != 75)) || fail "another run still held $lock after 20 minutes"
  exit "$status"
fi

bench=$2 runs=$3 folder=$4

work=$project/build/windows/wine-window
shots=$project/build/windows/screenshots
sim=$project/build/debug/sim/veltra-sim
rm -rf -- "$work"
rm -f -- "$shots/window-failure.png"
mkdir -p "$work" "$shots"

# ---- Wine and the X server -----------------------------------------------------
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer asking
if [[ -z ${WINEPREFIX:-} ]]; then
  export WINEPREFIX=$work/prefix
fi
wineserver -k 2>/dev/null || true
bounded 60 "the end of the prefix's Wine server" wineserver -w

xvfb_pid="" sim_pid="" window_pid=""
cleanup() {
  if [[ -n $window_pid ]]; then
    kill -KILL "$window_pid" 2>/dev/null || true
    { wait "$window_pid"; } 2>/dev/null || true
  fi
  wineserver -k 2>/dev/null || true
  if [[ -n $sim_pid ]]; then kill -TERM "$sim_pid" 2>/dev/null || true; fi
  if [[ -n $xvfb_pid ]]; then kill -TERM "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

source "$project/scripts/wine-common.sh"
start_virtual_display "$work/xvfb.log" 1280x1024x24

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  bounded 300 "making a Wine prefix in $WINEPREFIX (wineboot)" wineboot --init
  bounded 60 "the end of the Wine server" wineserver -w
fi
add_wine_fonts "$WINEPREFIX"

# ---- Steps of a run --------------------------------------------------------------
# wait_until SECONDS WHAT COMMAND...: polls COMMAND until it succeeds; fails
# naming WHAT after SECONDS.
wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if ((SECONDS >= deadline)); then
      failure_screen
      fail "$what did not happen within $seconds s"
    fi
    if [[ -n $window_pid ]] && ! kill -0 "$window_pid" 2>/dev/null; then
      failure_screen
      fail "the window program ended while waiting for: $what; its log: $(tail -n 5 "$run_dir/window.log")"
    fi
    # No step of a good run shows a box; one that does waits for an answer.
    if [[ -n $window_pid ]] && visible_window '^boot-loader-veltra$'; then
      failure_screen
      fail "the window showed a message box while waiting for: $what (last status line: $(last_status))"
    fi
    sleep 0.2
  done
}

failure_screen() {
  timeout 30 import -window root "$shots/window-failure.png" 2>/dev/null &&
    echo "wine-window.sh: the screen at the failure: $shots/window-failure.png" >&2
}

# The registry values a run depends on, each read when a Wine server starts:
# COM1 at the simulator's link and the screen's dpi. There is no window
# manager: Wine places the windows and draws their frames itself (Managed,
# Decorated). A managed window would wait 2 s for a window manager each time
# it is hidden, which is no part of the program's own time.
set_registry() {
  local dpi=$1 com1=$2
  wineserver -k 2>/dev/null || true
  bounded 60 "the end of the Wine server" wineserver -w
  bounded 60 "mapping COM1 in the registry" wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$com1" /f
  bounded 60 "setting the dpi in the registry" \
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
  bounded 60 "setting Managed in the registry" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  bounded 60 "setting Decorated in the registry" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f
  bounded 60 "the end of the Wine server" wineserver -w
}

start_sim() {
  local link=$1
  shift
  exec {from_sim}< <(exec "$sim" --link "$link" "$@" 2>&1)
  sim_pid=$!
  local line=""
  if ! IFS= read -r -t 30 -u "$from_sim" line || [[ $line != *"Ctrl-C ends"* || ! -L $link ]]; then
    fail "the simulator did not publish $link: ${line:-it said nothing}"
  fi
  cat <&"$from_sim" >"$run_dir/sim.log" &
  exec {from_sim}<&-
}

stop_sim() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  local deadline=$((SECONDS + 10))
  while kill -0 "$sim_pid" 2>/dev/null; do
    ((SECONDS < deadline)) || { kill -KILL "$sim_pid"; fail "the simulator did not end on SIGTERM"; }
    sleep 0.1
  done
  sim_pid=""
}

status_seen() { grep -q "veltra.status: $1" "$run_dir/window.log"; }
last_status() { grep 'veltra.status: ' "$run_dir/window.log" | tail -n 1 | sed 's/.*veltra.status: //'; }
visible_window() { xdo search --onlyvisible --name "$1" >/dev/null 2>&1; }
no_visible_window() { ! visible_window "$1"; }

# The window's place on the screen: the X window holds Wine's frame and the
# client area, which Qt scales from its 237 x 254 device-independent pixels.
window_id="" client_x=0 client_y=0 scale=1
find_window() {
  # shellcheck disable=SC2034  # WINDOW and SCREEN come with the geometry
  local dpi=$1 X Y WIDTH HEIGHT WINDOW SCREEN
  wait_until 90 "the window appearing" visible_window '^Boot Loader Veltra$'
  window_id=$(xdo search --onlyvisible --name '^Boot Loader Veltra$' | head -n 1)
  eval "$(xdo getwindowgeometry --shell "$window_id")"
  scale=$(awk -v d="$dpi" 'BEGIN { print d / 96 }')
  local client_w client_h border
  client_w=$(awk -v s="$scale" 'BEGIN { printf "%d", 237 * s + 0.5 }')
  client_h=$(awk -v s="$scale" 'BEGIN { printf "%d", 254 * s + 0.5 }')
  border=$(((WIDTH - client_w) / 2))
  if ((border < 0 || border > 20 || HEIGHT - client_h - border < 0)); then
    fail "the window is ${WIDTH}x$HEIGHT on the screen, which does not hold a client area of ${client_w}x$client_h at $dpi dpi"
  fi
  client_x=$((X + border))
  client_y=$((Y + HEIGHT - client_h - border))
}

# Clicks the point (x, y) of the client area, in device-independent pixels.
click() {
  local x y
  x=$(awk -v o="$client_x" -v v="$1" -v s="$scale" 'BEGIN { printf "%d", o + v * s + 0.5 }')
  y=$(awk -v o="$client_y" -v v="$2" -v s="$scale" 'BEGIN { printf "%d", o + v * s + 0.5 }')
  xdo mousemove --sync "$x" "$y" click 1
}

# One download through the window. Arguments: the dpi, the firmware file's
# size, the screenshot to keep ("" for none), then the simulator's options.
run_window() {
  local dpi=$1 size=$2 shot=$3
  shift 3
  run_dir=$work/run-$dpi-$((++run_number))
  mkdir -p "$run_dir"
  local link=$run_dir/com1 saved=$run_dir/loaded.bin firmware=$run_dir/fw.bin
  head -c "$size" /dev/urandom >"$firmware"

  set_registry "$dpi" "$link"
  # The run's own server, so that what it says goes to a log of its own.
  wineserver -p >"$run_dir/wineserver.log" 2>&1
  start_sim "$link" --save "$saved" "$@"

  (
    cd "$folder"
    # Wine hands no QT_ variable of Linux to a Windows program; WINEQT_X
    # reaches it as QT_X. The status lines to standard error, each with the
    # seconds since the program started.
    export WINEQT_LOGGING_RULES="veltra.status.info=true" WINEQT_FORCE_STDERR_LOGGING=1
    export WINEQT_MESSAGE_PATTERN="%{time process} %{category}: %{message}"
    exec wine ./boot-loader-veltra.exe >"$run_dir/window.log" 2>&1
  ) &
  window_pid=$!
  find_window "$dpi"

  # The working area's buttons, at the middle of their places (see
  # frmSerial::LayOutWorkingArea; the port list already shows "COM1:").
  click 163 45  # Open COM port
  click 60 137  # Open File: enabled only once the port is open
  wait_until 30 "the file dialog opening (was COM1 opened?)" visible_window '^Open$'
  local windows_path dialog
  windows_path=$(timeout 60 winepath -w "$firmware" 2>/dev/null) || true
  [[ $windows_path == ?:* ]] || fail "winepath gave no Windows path for $firmware"
  dialog=$(xdo search --onlyvisible --name '^Open$' | head -n 1)
  # Without a window manager the keyboard goes to the window under the
  # pointer, and Wine hands it to the dialog's name box: the pointer rests on
  # the dialog, which has set up its box by the time it is drawn.
  xdo mousemove --window "$dialog" --sync 40 40
  sleep 0.5
  xdo type --delay 20 "$windows_path"
  xdo key Return
  wait_until 30 "the file dialog closing" no_visible_window '^Open$'
  wait_until 15 'the status line "Wait RUN button"' status_seen "Wait RUN button"

  click 176 137  # RUN
  local expected_bytes=$(((size / 64 + 1) * 64))
  wait_until "$((size / 256 + 60))" "the status line \"Successful - $expected_bytes Bytes\"" \
    status_seen "\(Successful\|Failed\) - \|No connection\|File error"
  status_seen "Successful - $expected_bytes Bytes" || fail "the download ended with: $(last_status)"

  if [[ -n $shot ]]; then
    sleep 0.5  # the bar's last repaint
    timeout 30 import -window "$window_id" "$shot" || fail "no screenshot of the window"
  fi

  # Closed as an operator closes it.
  xdo key alt+F4
  wait_until 30 "the window closing on Alt+F4" no_visible_window '^Boot Loader Veltra$'
  local deadline=$((SECONDS + 30)) code=0
  while kill -0 "$window_pid" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "the window program did not end after its window closed"
    sleep 0.2
  done
  wait "$window_pid" || code=$?
  window_pid=""
  ((code == 0)) || fail "the window program ended with exit code $code"
  wineserver -k 2>/dev/null || true

  stop_sim
  # The device keeps whole 64-byte blocks: the file, then 0xFF to the end of
  # the closing block.
  {
    cat "$firmware"
    head -c "$((expected_bytes - size))" /dev/zero | tr '\0' '\377'
  } >"$run_dir/expected.bin"
  cmp -s "$run_dir/expected.bin" "$saved" ||
    fail "the device holds other bytes than the file ($saved against $run_dir/expected.bin)"
}
run_number=0

# ---- A download at 100 % and at 150 % -------------------------------------------
if ((bench == 0)); then
  run_window 96 3000 "$shots/window-download.png"
  echo "wine-window.sh: 100 %: $(last_status), the device holds the file; $shots/window-download.png"
  run_window 144 3000 "$shots/window-150.png"
  echo "wine-window.sh: 150 %: $(last_status), the device holds the file; $shots/window-150.png"
  exit 0
fi

# ---- The figures ------------------------------------------------------------------
# min and median of the numbers on standard input
min_median() {
  sort -g | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "min %.3f  median %.3f", v[1], m }'
}

# Seconds from the start of a probe to its end, which comes right after its
# window's first paint.
time_probe() {
  local start=$EPOCHREALTIME
  timeout 60 "$@" >/dev/null 2>&1 || fail "the start probe failed or took more than 60 s: $*"
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f\n", b - a }'
}

windows_probes=$folder
linux_probes=$project/build/release/bench
for probe in start_probe_window start_probe_minimal; do
  [[ -f $windows_probes/$probe.exe ]] ||
    fail "no $windows_probes/$probe.exe: the windows preset builds the start probes beside the window"
  [[ -x $linux_probes/$probe ]] || fail "no $linux_probes/$probe"
done

set_registry 96 "$work/com1"
wineserver -p >"$work/wineserver.log" 2>&1  # one server for all the starts, as a session has
bounded 60 "a first Wine program" wine cmd /c exit
# One uncounted start of each fills the file cache.
time_probe wine "$windows_probes/start_probe_window.exe" >/dev/null
time_probe wine "$windows_probes/start_probe_minimal.exe" >/dev/null
time_probe env QT_QPA_PLATFORM=xcb "$linux_probes/start_probe_window" >/dev/null
time_probe env QT_QPA_PLATFORM=xcb "$linux_probes/start_probe_minimal" >/dev/null
pairs=$((runs * 3))
: >"$work/starts"
for ((i = 0; i < pairs; i++)); do
  wine_tool=$(time_probe wine "$windows_probes/start_probe_window.exe")
  linux_tool=$(time_probe env QT_QPA_PLATFORM=xcb "$linux_probes/start_probe_window")
  wine_empty=$(time_probe wine "$windows_probes/start_probe_minimal.exe")
  linux_empty=$(time_probe env QT_QPA_PLATFORM=xcb "$linux_probes/start_probe_minimal")
  echo "$wine_tool $linux_tool $wine_empty $linux_empty" >>"$work/starts"
done
wineserver -k 2>/dev/null || true
column() { awk -v c="$1" '{ print $c }' "$work/starts"; }
echo "start to first paint, $pairs rounds, Xvfb at 96 dpi (seconds)"
echo "  tool window under Wine:  $(column 1 | min_median)"
echo "  tool window on Linux:    $(column 2 | min_median)"
echo "  empty window under Wine: $(column 3 | min_median)"
echo "  empty window on Linux:   $(column 4 | min_median)"
echo "  tool under Wine / tool on Linux, within a round: $(awk '{ print $1 / $2 }' "$work/starts" | min_median)"
echo "  tool / empty under Wine, within a round:         $(awk '{ print $1 / $3 }' "$work/starts" | min_median)"
echo "  tool / empty on Linux, within a round:           $(awk '{ print $2 / $4 }' "$work/starts" | min_median)"

# The download: 513 blocks of 67 + 4 bytes at 10 bits a byte, plus the 20 ms
# of silence that ends each read, is the line's floor.
size=$((32 * 1024))
blocks=$((size / 64 + 1))
floor=$(awk -v b="$blocks" 'BEGIN { printf "%.4f", b * (71 * 10 / 19200 + 0.020) }')
: >"$work/downloads"
for ((i = 0; i < runs; i++)); do
  run_window 96 "$size" "" --pace
  awk -v floor="$floor" '
    / veltra.status: Wait connecting/ && !start { start = $1 }
    / veltra.status: Successful - / { end = $1 }
    END { printf "%.3f %.4f\n", end - start, (end - start) / floor }' "$run_dir/window.log" >>"$work/downloads"
done
echo "32 KiB through the window under Wine at 19200 baud, $runs runs (floor $floor s)"
echo "  wall (s):      $(awk '{ print $1 }' "$work/downloads" | min_median)"
echo "  wall / floor:  $(awk '{ print $2 }' "$work/downloads" | min_median)"
