#!/usr/bin/python3
"""What the kernel's serial drivers answer, for the log of the virtual
machine step (facts, not checks).

    probe.py slot /dev/ttyS3    open, tcgetattr and TIOCGSERIAL of a port
    probe.py pulled /dev/ttyUSB0 READY_FILE
                                opens the port, writes READY_FILE, then tells
                                what poll, read, write and tcdrain give once
                                the adapter has been pulled
"""
import errno
import fcntl
import os
import select
import struct
import sys
import termios
import time

TIOCGSERIAL = 0x541E


def name(e):
    return errno.errorcode.get(e, str(e))


def attempt(what, call):
    try:
        result = call()
        return f"{what}: ok {result!r}"[:160]
    except OSError as e:
        return f"{what}: {name(e.errno)}"
    except termios.error as e:
        return f"{what}: {name(e.args[0])}"


def slot(path):
    try:
        fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    except OSError as e:
        print(f"{path}: open gives {name(e.errno)}")
        return
    print(f"{path}: open ok")
    print(f"{path}: " + attempt("tcgetattr", lambda: termios.tcgetattr(fd)[4:6]))
    def serial():
        raw = fcntl.ioctl(fd, TIOCGSERIAL, bytes(72))
        kind, line, port, irq = struct.unpack_from("iiIi", raw)
        return f"type {kind} line {line} port {port:#x} irq {irq}"
    print(f"{path}: " + attempt("TIOCGSERIAL", serial))
    print(f"{path}: " + attempt("write", lambda: os.write(fd, b"\x7f")))
    os.close(fd)


def pulled(path, ready):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    open(ready, "w").close()
    p = select.poll()
    p.register(fd, select.POLLIN | select.POLLOUT | select.POLLERR | select.POLLHUP)
    started = time.monotonic()
    events = 0
    while time.monotonic() - started < 30:
        got = p.poll(1000)
        # A line with nothing to read is always writable: only what goes
        # beyond POLLOUT tells of the pull.
        events = got[0][1] if got else 0
        if events & ~select.POLLOUT:
            break
        time.sleep(0.05)
    flags = [n for n in ("POLLIN", "POLLOUT", "POLLERR", "POLLHUP", "POLLNVAL") if events & getattr(select, n)]
    print(f"{path} pulled: poll gives {'|'.join(flags) or 'nothing'}")
    print(f"{path} pulled: " + attempt("read", lambda: os.read(fd, 16)))
    print(f"{path} pulled: " + attempt("write", lambda: os.write(fd, b"\x7f")))
    print(f"{path} pulled: " + attempt("tcdrain", lambda: termios.tcdrain(fd)))
    print(f"{path} pulled: " + attempt("tcgetattr", lambda: termios.tcgetattr(fd)[4:6]))
    os.close(fd)


if __name__ == "__main__":
    if sys.argv[1:2] == ["slot"]:
        slot(sys.argv[2])
    elif sys.argv[1:2] == ["pulled"]:
        pulled(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
