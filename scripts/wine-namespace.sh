#!/usr/bin/env bash
# Runs a command in a mount namespace of its own whose /dev has no serial
# devices, for Wine work with COM1 mapped to the simulated device:
#
#   wine-namespace.sh COMMAND [ARG...]
#
# Wine gives a COM port to every serial device whose name it finds
# (/dev/ttyS0, ttyS1, ... ttyUSB0, ... ttyACM0, ...): only a name that is not
# there is not taken. So in this namespace /dev is a copy without them (every
# other entry bound to the real one), so that COM1 is the simulator alone and
# COM7 no port at all. The real /dev is not touched. Needs root (unshare).
set -euo pipefail

if (($# == 0)); then
  echo "usage: wine-namespace.sh COMMAND [ARG...]" >&2
  exit 2
fi
if [[ $1 != --in-namespace ]]; then
  exec unshare --mount --propagation private -- "$0" --in-namespace "$@"
fi
shift

new_dev=$(mktemp -d)
mount -t tmpfs -o mode=0755,size=1m veltra-dev "$new_dev"
for entry in /dev/* /dev/.[!.]*; do
  [[ -e $entry || -L $entry ]] || continue
  name=${entry#/dev/}
  case $name in ttyS[0-9]* | ttyUSB[0-9]* | ttyACM[0-9]*) continue ;; esac
  if [[ $name == ptmx ]]; then
    # A bound /dev/ptmx finds no pts beside it: the pseudo-terminals'
    # own multiplexer, as in a container.
    ln -s pts/ptmx "$new_dev/ptmx"
  elif [[ -L $entry ]]; then
    cp -P -- "$entry" "$new_dev/$name"
  elif [[ -d $entry ]]; then
    mkdir -- "$new_dev/$name"
    mount --rbind -- "$entry" "$new_dev/$name"
  else
    touch -- "$new_dev/$name"
    mount --bind -- "$entry" "$new_dev/$name"
  fi
done
mount --move "$new_dev" /dev
rmdir -- "$new_dev"
exec "$@"
