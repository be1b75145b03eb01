#!/usr/bin/python3
"""Builds the virtual machine's initramfs: busybox, /init, and the kernel
modules the guest needs with everything they depend on, resolved from the
unpacked kernel's modules.dep. Written as cpio newc and gzipped, without the
cpio program.

    initramfs.py MODULES_DIR BUSYBOX INIT OUTPUT MODULE...

MODULES_DIR is lib/modules/VERSION of the unpacked kernel (with modules.dep).
The guest's /init loads /lib/modules/load-order, one .ko a line, in order.
"""
import gzip
import lzma
import os
import subprocess
import sys


def normal(name):
    return name.replace("-", "_")


def module_name(path):
    base = os.path.basename(path)
    for suffix in (".ko.xz", ".ko.zst", ".ko.gz", ".ko"):
        if base.endswith(suffix):
            return normal(base[: -len(suffix)])
    raise ValueError(f"not a module: {path}")


def read_deps(modules_dir):
    deps = {}
    paths = {}
    with open(os.path.join(modules_dir, "modules.dep")) as f:
        for line in f:
            head, _, tail = line.partition(":")
            name = module_name(head)
            paths[name] = head
            deps[name] = [module_name(p) for p in tail.split()]
    return deps, paths


def load_order(wanted, deps):
    """Every wanted module after everything it needs, each once."""
    order = []
    seen = set()

    def visit(name, chain):
        if name in seen:
            return
        if name in chain:
            raise SystemExit(f"initramfs: dependency loop at {name}")
        if name not in deps:
            raise SystemExit(f"initramfs: no module {name} in modules.dep")
        for d in deps[name]:
            visit(d, chain | {name})
        seen.add(name)
        order.append(name)

    for w in wanted:
        visit(normal(w), frozenset())
    return order


def module_bytes(path):
    if path.endswith(".xz"):
        return lzma.decompress(open(path, "rb").read())
    if path.endswith(".zst"):
        # The standard library has no zstd; the zstd program does it.
        return subprocess.run(["zstd", "-dc", path], check=True, capture_output=True).stdout
    if path.endswith(".gz"):
        return gzip.decompress(open(path, "rb").read())
    return open(path, "rb").read()


class Cpio:
    """The newc format: a 110-byte ASCII header per entry, name and data each
    padded to four bytes, ended by TRAILER!!!."""

    def __init__(self):
        self.parts = []
        self.ino = 1

    def _entry(self, name, mode, data=b""):
        name_bytes = name.encode() + b"\0"
        fields = [self.ino, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name_bytes), 0]
        self.ino += 1
        header = b"070701" + b"".join(b"%08X" % v for v in fields)
        self.parts.append(header + name_bytes)
        self.parts.append(b"\0" * ((-len(header) - len(name_bytes)) % 4))
        self.parts.append(data)
        self.parts.append(b"\0" * (-len(data) % 4))

    def directory(self, name):
        self._entry(name, 0o040755)

    def file(self, name, data, mode=0o644):
        self._entry(name, 0o100000 | mode, data)

    def symlink(self, name, target):
        self._entry(name, 0o120777, target.encode())

    def bytes(self):
        self._entry("TRAILER!!!", 0)
        return b"".join(self.parts)


def main(argv):
    if len(argv) < 6:
        raise SystemExit(__doc__)
    modules_dir, busybox, init, output = argv[1:5]
    deps, paths = read_deps(modules_dir)
    order = load_order(argv[5:], deps)

    archive = Cpio()
    for d in ("bin", "dev", "proc", "sys", "newroot", "lib", "lib/modules"):
        archive.directory(d)
    archive.file("bin/busybox", open(busybox, "rb").read(), 0o755)
    archive.symlink("bin/sh", "busybox")
    archive.file("init", open(init, "rb").read(), 0o755)
    listing = []
    for name in order:
        archive.file(f"lib/modules/{name}.ko", module_bytes(os.path.join(modules_dir, paths[name])))
        listing.append(f"/lib/modules/{name}.ko")
    archive.file("lib/modules/load-order", ("\n".join(listing) + "\n").encode())

    temporary = output + ".part"
    with gzip.open(temporary, "wb", compresslevel=6) as f:
        f.write(archive.bytes())
    os.replace(temporary, output)
    print(f"initramfs: {len(order)} modules: {' '.join(order)}")


if __name__ == "__main__":
    main(sys.argv)
