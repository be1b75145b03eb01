#!/usr/bin/env bash
# Runs one Windows test program under Wine, with a simulated device at the far
# end of COM1 for the time it runs (ctest calls this for each Windows test).
#
#   wine-peer.sh [--peer PROGRAM --link PATH [--peer-arg ARG]...] -- PROGRAM.exe [ARG...]
#
# PROGRAM is the Linux veltra-sim; it publishes its pseudo-terminal as a link
# at PATH, where the Wine prefix's registry points COM1. Without --peer the
# test program runs alone. The test program's exit status is this script's.
# WINEPREFIX must name a prefix made by scripts/windows-tests.sh, whose Wine
# server is already running.
set -euo pipefail

peer="" link="" peer_args=()
while (($# > 0)); do
  case $1 in
    --peer) peer=$2; shift 2 ;;
    --link) link=$2; shift 2 ;;
    --peer-arg) peer_args+=("$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "wine-peer.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
if (($# == 0)) || [[ -n $peer && -z $link ]]; then
  echo "usage: wine-peer.sh [--peer PROGRAM --link PATH [--peer-arg ARG]...] -- PROGRAM.exe [ARG...]" >&2
  exit 2
fi
if [[ ! -f $1 ]]; then
  echo "wine-peer.sh: no test program $1 (is the windows preset built, or being built right now?)" >&2
  exit 2
fi
if [[ -z ${WINEPREFIX:-} || ! -f $WINEPREFIX/system.reg ]]; then
  echo "wine-peer.sh: no Wine prefix at '${WINEPREFIX:-}': scripts/windows-tests.sh makes it and maps COM1" >&2
  exit 2
fi

peer_pid="" drain_pid=""
end_peer() {
  if [[ -n $peer_pid ]]; then
    kill -TERM "$peer_pid" 2>/dev/null || true
    wait "$peer_pid" 2>/dev/null || true
  fi
  # The drain ends when the peer's output closes, so after it the peer has
  # said everything and is gone.
  if [[ -n $drain_pid ]]; then wait "$drain_pid" 2>/dev/null || true; fi
}
trap end_peer EXIT

if [[ -n $peer ]]; then
  # A link left behind by a simulator that was killed outright points
  # nowhere: it goes. A live one is another run's, and the simulator refuses it.
  if [[ -L $link && ! -e $link ]]; then rm -f -- "$link"; fi
  exec {from_peer}< <(exec "$peer" --link "$link" "${peer_args[@]}" 2>&1)
  peer_pid=$!
  # Its first line says that the link is there, or why it could not make it.
  line=""
  if ! IFS= read -r -t 30 -u "$from_peer" line || [[ $line != *"Ctrl-C ends"* || ! -L $link ]]; then
    echo "wine-peer.sh: the simulator did not publish $link: ${line:-it said nothing}" >&2
    kill -TERM "$peer_pid" 2>/dev/null || true
    cat <&"$from_peer" >&2 || true  # what else it said, up to its end
    exit 1
  fi
  echo "$line" >&2
  # Its trace goes with the test's output.
  cat <&"$from_peer" >&2 &
  drain_pid=$!
  exec {from_peer}<&-
fi

status=0
wine "$@" || status=$?
exit "$status"
