#!/usr/bin/env bash
# The port and veltra-load on the kernel's real serial drivers: a QEMU virtual
# machine (Debian's kernel, a busybox initramfs, the host's root mounted
# read-only over virtio-9p) with a 16550 UART (the guest's ttyS1, "COM2:")
# and QEMU's USB FTDI adapter (ttyUSB0, through ftdi_sio). The host's end of
# each line is a pty on which scripts/vm/host.py runs veltra-sim --attach as
# the guest's checks ask; it also pulls and plugs the adapter through QMP.
# Called by scripts/test.sh after the debug build; fails when a check fails,
# the guest does not finish, or QEMU dies (the console log stays in build/vm).
#
#   vm-tests.sh           the checks (scripts/vm/guest-checks.sh)
#   vm-tests.sh --bench   the benchmark instead: from the pull of the adapter
#                         to the end of veltra-load (scripts/vm/guest-bench.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
run=scripts/vm/guest-checks.sh
if [[ ${1:-} == --bench ]]; then run=scripts/vm/guest-bench.sh; fi

./scripts/install-deps.sh qemu-system-x86 busybox-static python3 kmod
python=/usr/bin/python3

for program in build/debug/src/veltra-load build/debug/sim/veltra-sim build/debug/tests/vm/veltra_vm_tests \
  build/debug/tests/vm/veltra_vm_empty_read; do
  if [[ ! -x $program ]]; then
    echo "vm: $program is missing: build the debug preset first" >&2
    exit 1
  fi
done

# Everything the guest reads lives under the repository: the guest's /tmp is
# its own.
vm=build/vm
mkdir -p "$vm/out"

# Debian's kernel, unpacked, not installed (no initramfs hooks run): the
# version that linux-image-amd64 depends on now.
kernel_image() { apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1; }
image=$(kernel_image)
if [[ -z $image ]]; then
  # A machine whose package lists were never fetched knows no kernel yet.
  apt-get update -qq
  image=$(kernel_image)
fi
if [[ -z $image ]]; then
  echo "vm: apt knows no kernel image that linux-image-amd64 depends on" >&2
  exit 1
fi
kernel=$vm/$image
if [[ ! -f $kernel/done ]]; then
  rm -rf "$kernel" "$vm"/linux-image-*.deb
  (cd "$vm" && apt-get download "$image" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  deb=$(ls "$vm"/"$image"_*.deb)
  mkdir -p "$kernel"
  dpkg-deb -x "$deb" "$kernel"
  version=$(ls "$kernel/lib/modules")
  depmod -b "$kernel" "$version"
  rm -f "$deb"
  touch "$kernel/done"
fi
version=$(ls "$kernel/lib/modules")
vmlinuz=$kernel/boot/vmlinuz-$version

# The initramfs, made again when its makings change.
modules=(9p 9pnet_virtio virtio_pci xhci_pci usbserial ftdi_sio)
initrd=$vm/initramfs-$version.gz
busybox=$(command -v busybox)
stamp=$(cat scripts/vm/init scripts/vm/initramfs.py "$busybox" <(echo "${modules[*]}") | sha256sum | cut -c1-16)
if [[ ! -f $initrd || $(cat "$initrd.stamp" 2>/dev/null) != "$stamp" ]]; then
  "$python" scripts/vm/initramfs.py "$kernel/lib/modules/$version" "$busybox" scripts/vm/init "$initrd" "${modules[@]}"
  echo "$stamp" >"$initrd.stamp"
fi

# QEMU 7.2 now and then crashes when the adapter, once plugged in again, is
# pulled out a second time (about one pull in fifteen here; the checks pull a
# plugged-in-again adapter three times a run). That says nothing about the
# checks, so the step then runs again, three times at the most; a failed
# check fails at once.
for attempt in 1 2 3 4; do
  rm -f "$vm"/out/*
  status=0
  "$python" scripts/vm/host.py --kernel "$vmlinuz" --initrd "$initrd" --repo "$repo" --run "$run" \
    --sim "$repo/build/debug/sim/veltra-sim" --out "$repo/$vm/out" --log "$repo/$vm/console.log" --timeout 480 ||
    status=$?
  if ((status != 3)); then exit "$status"; fi
  cp "$vm/console.log" "$vm/console-qemu-crashed-$attempt.log"
  echo "vm: QEMU crashed (attempt $attempt; its console log is $vm/console-qemu-crashed-$attempt.log)" >&2
done
exit 1
