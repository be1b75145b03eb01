#!/usr/bin/python3
"""One round of the virtual machine's benchmark, in the guest: starts
veltra-load on ttyUSB0 (the host pulls the adapter in the middle of the
download) and prints the seconds from the removal of /dev/ttyUSB0 to the end
of veltra-load, then its exit status.

    pull-bench.py VELTRA_LOAD FIRMWARE
"""
import ctypes
import os
import select
import struct
import subprocess
import sys
import time

IN_DELETE = 0x200
libc = ctypes.CDLL(None, use_errno=True)


def main():
    load, firmware = sys.argv[1:3]
    watch = libc.inotify_init1(os.O_CLOEXEC)
    if watch < 0 or libc.inotify_add_watch(watch, b"/dev", IN_DELETE) < 0:
        sys.exit(f"inotify: {os.strerror(ctypes.get_errno())}")
    child = subprocess.Popen([load, "--port", "ttyUSB0", firmware], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    ended = os.pidfd_open(child.pid)
    poller = select.poll()
    poller.register(watch, select.POLLIN)
    poller.register(ended, select.POLLIN)
    removed = None
    finished = None
    deadline = time.monotonic() + 120
    while finished is None and time.monotonic() < deadline:
        for fd, _ in poller.poll(1000):
            now = time.monotonic()
            if fd == ended:
                finished = now
            else:
                data = os.read(watch, 4096)
                offset = 0
                while offset < len(data):
                    _, _, _, length = struct.unpack_from("iIII", data, offset)
                    name = data[offset + 16:offset + 16 + length].rstrip(b"\0")
                    if name == b"ttyUSB0" and removed is None:
                        removed = now
                    offset += 16 + length
    if finished is None:
        child.kill()
    code = child.wait()
    if removed is None or finished is None:
        print(f"none {code}")
    else:
        print(f"{finished - removed:.4f} {code}")


if __name__ == "__main__":
    main()
