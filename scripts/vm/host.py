#!/usr/bin/python3
"""The host's side of the virtual machine step: starts QEMU, speaks QMP, reads
the guest's console and serves what the guest's script asks for.

The guest asks by printing a line on its console:

    @@vm SEQ serve LINE OPTION...   (re)start veltra-sim --attach on LINE's pty
    @@vm SEQ stop LINE              end LINE's simulator; answers its last line
    @@vm SEQ frames LINE            the block frames (or ROM records) LINE's
                                    simulator has seen, and how many of them
                                    it accepted ("N M")
    @@vm SEQ pull-at LINE N         pull the adapter when block frame (or ROM
                                    record) N arrives
    @@vm SEQ pull LINE              pull the adapter now
    @@vm SEQ plug LINE              plug it in again
    @@vm SEQ plug-spare             plug in a second adapter (no device behind it)
    @@vm SEQ pull-spare             pull the second adapter out
    @@vm SEQ dels                   how many 0x7F bytes the console has carried

and the host answers "@@ok SEQ TEXT" (or "@@err SEQ TEXT") on the console's
input. LINE is "usb" (the FTDI, the guest's ttyUSB0) or "com2" (the second
UART, the guest's ttyS1). The guest reports each check as
"@@res ok NAME" or "@@res FAIL NAME: DETAIL", facts as "@@fact TEXT", and
ends with "@@end".

Exit status: 0 when the guest ended and no check failed; 3 when QEMU itself
ended before the guest did (no verdict: the step runs again); 1 otherwise (a
failed check, the guest not ending within the timeout).
"""
import argparse
import json
import os
import re
import select
import signal
import socket
import subprocess
import sys
import time

LINES = {"usb": "ftdi0", "com2": "uart1"}  # guest line -> QEMU chardev id
ADAPTER_ID = "ftdi"
# The adapter keeps its USB serial number and its port on the hub through
# every pull and plug, as a real one does, so that the guest can name it by
# either. The spare adapter has a serial number of its own and a null line.
ADAPTER = {"driver": "usb-serial", "id": ADAPTER_ID, "chardev": LINES["usb"], "serial": "VELTRA-A1", "port": "1"}
SPARE = {"driver": "usb-serial", "id": "spare", "chardev": "spare0", "serial": "VELTRA-B2", "port": "2",
         "always-plugged": True}


def device_option(properties):
    return ",".join([properties["driver"]] + [f"{k}={v}" for k, v in properties.items() if k != "driver"])
MARKER = re.compile(r"@@(vm|res|fact|end)\b ?(.*)")
FRAME = re.compile(r"^block\s+(\d+) marker [0-9A-F]{2} (\w+)")
# A record the simulated ROM bootloader takes counts as a frame too.
ROM_RECORD = re.compile(r"^(ACK|NACK)\s+data\s+128 bytes at ")


class Failure(Exception):
    pass


class QemuGone(Failure):
    """QEMU itself ended (crashed) before the guest's script did: no verdict
    on the checks. QEMU 7.2 crashes now and then when a USB device that was
    plugged in again is pulled out once more."""


class Qmp:
    def __init__(self, path, deadline):
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > deadline:
                    raise Failure("QEMU's QMP socket did not appear")
                time.sleep(0.05)
        self.buffer = b""
        self.events = []
        self._message(10)  # the greeting
        self.command("qmp_capabilities")

    def _message(self, patience):
        end = time.monotonic() + patience
        while b"\n" not in self.buffer:
            left = end - time.monotonic()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                raise Failure("QMP did not answer")
            chunk = self.sock.recv(65536)
            if not chunk:
                raise Failure("QMP closed")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def command(self, name, patience=10, **arguments):
        message = {"execute": name}
        if arguments:
            message["arguments"] = arguments
        self.sock.sendall(json.dumps(message).encode() + b"\n")
        while True:
            reply = self._message(patience)
            if "event" in reply:
                self.events.append(reply)
            elif "error" in reply:
                raise Failure(f"QMP {name}: {reply['error'].get('desc')}")
            elif "return" in reply:
                return reply["return"]

    def wait_event(self, name, patience=10, **data):
        end = time.monotonic() + patience
        while True:
            for i, e in enumerate(self.events):
                if e["event"] == name and all(e.get("data", {}).get(k) == v for k, v in data.items()):
                    del self.events[i]
                    return e
            left = end - time.monotonic()
            if left <= 0:
                raise Failure(f"QMP event {name} did not come")
            reply = self._message(left)
            if "event" in reply:
                self.events.append(reply)


class Sim:
    """One veltra-sim attached to a line's pty, its trace read as it comes."""

    def __init__(self, program, pty, options, log):
        self.lines = []
        self.partial = b""
        self.frames = 0
        self.accepted = 0
        self.pull_at = None
        self.log = log
        self.process = subprocess.Popen([program, "--attach", pty] + options, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        os.set_blocking(self.process.stdout.fileno(), False)
        log.write(f"[host] started veltra-sim --attach {pty} {' '.join(options)}\n")

    def fileno(self):
        return self.process.stdout.fileno()

    def take(self):
        """Reads what the trace has; the new lines, or None at its end."""
        try:
            chunk = os.read(self.fileno(), 65536)
        except BlockingIOError:
            return []
        if not chunk:
            return None
        self.partial += chunk
        *complete, self.partial = self.partial.split(b"\n")
        new = [c.decode(errors="replace") for c in complete]
        for line in new:
            self.log.write(f"[sim] {line}\n")
            m = FRAME.match(line)
            if m:
                self.frames = max(self.frames, int(m.group(1)))
                self.accepted += m.group(2) == "accepted"
            elif ROM_RECORD.match(line):
                self.frames += 1
                self.accepted += line.startswith("ACK")
        self.lines += new
        return new

    def wait_for(self, text, patience):
        end = time.monotonic() + patience
        while not any(text in line for line in self.lines):
            left = end - time.monotonic()
            if left <= 0 or not select.select([self], [], [], left)[0]:
                raise Failure(f"veltra-sim did not say '{text}': {' | '.join(self.lines[-3:])}")
            if self.take() is None and not any(text in line for line in self.lines):
                raise Failure(f"veltra-sim ended: {' | '.join(self.lines[-3:])}")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.set_blocking(self.fileno(), True)
        while self.take():
            pass
        self.process.stdout.close()
        return self.lines[-1] if self.lines else ""


class Host:
    def __init__(self, args):
        self.args = args
        self.sims = {}
        self.ptys = {}
        self.results = []
        self.facts = []
        self.dels = 0
        self.ended = False
        os.makedirs(args.out, exist_ok=True)
        self.log = open(args.log, "w", buffering=1, errors="replace")
        self.qmp_path = os.path.join(args.out, "qmp.sock")
        if os.path.exists(self.qmp_path):
            os.unlink(self.qmp_path)

    def start_qemu(self):
        a = self.args
        command = [
            "qemu-system-x86_64", "-accel", "tcg", "-m", "1024", "-smp", "1", "-nographic", "-no-reboot",
            "-kernel", a.kernel, "-initrd", a.initrd,
            "-append", f"console=ttyS0 panic=-1 quiet veltra_repo={a.repo} veltra_run={a.run}"
                       f" veltra_args={a.guest_args or '-'}",
            "-virtfs", "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap",
            # The repository once more, mounted at its own path: the guest's
            # own /tmp would hide a clone there.
            "-virtfs", f"local,path={a.repo},mount_tag=repo,security_model=none,readonly=on,multidevs=remap",
            # A serial device of one's own turns the default console off:
            # both UARTs are given, in order (ttyS0 the console, ttyS1 the pty).
            "-serial", "mon:stdio", "-chardev", "pty,id=uart1", "-serial", "chardev:uart1",
            "-device", "qemu-xhci,id=xhci",
            "-chardev", "pty,id=ftdi0", "-device", device_option(ADAPTER), "-chardev", "null,id=spare0",
            "-qmp", f"unix:{self.qmp_path},server=on,wait=off",
        ]
        self.log.write("[host] " + " ".join(command) + "\n")
        self.qemu = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        os.set_blocking(self.qemu.stdout.fileno(), False)
        self.qmp = Qmp(self.qmp_path, time.monotonic() + 30)
        for chardev in self.qmp.command("query-chardev"):
            for line, label in LINES.items():
                if chardev["label"] == label:
                    self.ptys[line] = chardev["filename"].removeprefix("pty:")
        if set(self.ptys) != set(LINES):
            raise Failure(f"QEMU's ptys not found: {self.ptys}")
        self.log.write(f"[host] ptys {self.ptys}\n")

    # ---- the guest's requests ------------------------------------------------

    def pull(self, why, device=ADAPTER_ID):
        # Paused around the unplug: QEMU 7.2 has crashed on a device_del made
        # while bytes were moving.
        started = time.monotonic()
        self.qmp.command("stop")
        try:
            self.qmp.command("device_del", id=device)
            self.qmp.wait_event("DEVICE_DELETED", device=device)
        finally:
            self.qmp.command("cont")
        self.log.write(f"[host] {device} pulled ({why}) in {time.monotonic() - started:.3f} s\n")

    def plug(self, properties=ADAPTER):
        self.qmp.command("device_add", **properties)
        self.log.write(f"[host] {properties['id']} plugged\n")

    def sim_of(self, line):
        if line not in self.sims:
            raise Failure(f"no simulator on {line}")
        return self.sims[line]

    def stop_sim(self, line):
        sim = self.sims.pop(line, None)
        return sim.stop() if sim else "no simulator"

    def serve(self, words):
        line, options = words[0], words[1:]
        if line not in LINES:
            raise Failure(f"no line {line}")
        self.stop_sim(line)
        sim = Sim(self.args.sim, self.ptys[line], options, self.log)
        self.sims[line] = sim
        sim.wait_for("Ctrl-C ends", 10)
        # QEMU looks for a reader on a pty of its own once a second; until it
        # has seen one, what the guest sends is dropped.
        time.sleep(1.1)
        return "serving"

    def request(self, text):
        words = text.split()
        verb, rest = words[0], words[1:]
        if verb == "serve":
            return self.serve(rest)
        if verb == "stop":
            return self.stop_sim(rest[0])
        if verb == "frames":
            sim = self.sim_of(rest[0])
            while sim.take():
                pass
            return f"{sim.frames} {sim.accepted}"
        if verb == "pull-at":
            sim = self.sim_of(rest[0])
            sim.pull_at = int(rest[1])
            return "armed"
        if verb == "pull":
            self.pull("asked")
            return "pulled"
        if verb == "plug":
            self.plug()
            return "plugged"
        if verb == "plug-spare":
            self.plug(SPARE)
            return "plugged"
        if verb == "pull-spare":
            self.pull("asked", SPARE["id"])
            return "pulled"
        if verb == "dels":
            return str(self.dels)
        raise Failure(f"unknown request {verb}")

    def answer(self, seq, ok, text):
        reply = f"@@{'ok' if ok else 'err'} {seq} {text}".replace("\n", " ")
        self.log.write(f"[host] {reply}\n")
        self.qemu.stdin.write(reply.encode() + b"\n")
        self.qemu.stdin.flush()

    def on_console_line(self, line):
        m = MARKER.search(line)
        if not m:
            return
        kind, text = m.groups()
        if kind == "vm":
            seq, _, body = text.partition(" ")
            if seq == "init":
                self.results.append(("FAIL", f"guest start: {body}"))
                print(f"FAIL  guest start: {body}", flush=True)
                return
            try:
                self.answer(seq, True, self.request(body))
            except (Failure, IndexError, ValueError, OSError) as e:
                self.answer(seq, False, str(e))
        elif kind == "res":
            verdict, _, name = text.partition(" ")
            self.results.append((verdict, name))
            print(f"{'ok  ' if verdict == 'ok' else 'FAIL'}  {name}", flush=True)
        elif kind == "fact":
            self.facts.append(text)
            print(f"      {text}", flush=True)
        elif kind == "end":
            self.ended = True

    def run(self):
        self.start_qemu()
        deadline = time.monotonic() + self.args.timeout
        console = b""
        while True:
            sims = [s for s in self.sims.values() if not s.process.stdout.closed]
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure(f"the guest did not finish within {self.args.timeout} s")
            ready = select.select([self.qemu.stdout] + sims, [], [], min(left, 1.0))[0]
            for sim in [r for r in ready if isinstance(r, Sim)]:
                new = sim.take()
                if new is None:
                    sim.process.stdout.close()
                elif sim.pull_at is not None and sim.frames >= sim.pull_at:
                    at = sim.frames
                    sim.pull_at = None
                    self.pull(f"at block frame {at}")
            if self.qemu.stdout in ready:
                try:
                    chunk = os.read(self.qemu.stdout.fileno(), 65536)
                except BlockingIOError:
                    chunk = b""
                if not chunk and self.qemu.poll() is not None:
                    break
                self.dels += chunk.count(b"\x7f")
                console += chunk
                *complete, console = console.split(b"\n")
                for raw in complete:
                    line = raw.decode(errors="replace").rstrip("\r")
                    self.log.write(line + "\n")
                    self.on_console_line(line)
            if self.qemu.poll() is not None and not ready:
                break
        code = self.qemu.wait()
        self.log.write(f"[host] QEMU ended with {code}\n")
        if not self.ended:
            raise QemuGone(f"QEMU ended (status {code}) before the guest's script finished")

    def close(self):
        for line in list(self.sims):
            self.stop_sim(line)
        if getattr(self, "qemu", None) and self.qemu.poll() is None:
            self.qemu.kill()
            self.qemu.wait()
        self.log.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kernel", required=True)
    parser.add_argument("--initrd", required=True)
    parser.add_argument("--repo", required=True)
    parser.add_argument("--run", required=True, help="the guest's script, relative to the repository")
    parser.add_argument("--guest-args", default="")
    parser.add_argument("--sim", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--timeout", type=float, default=240)
    args = parser.parse_args()

    host = Host(args)
    started = time.monotonic()
    failure = None
    gone = False
    try:
        host.run()
    except QemuGone as e:
        failure, gone = str(e), True
    except Failure as e:
        failure = str(e)
    except OSError as e:
        # QEMU's end, seen as a broken control socket or console: the socket
        # breaks a moment before the process is gone, so it is given a moment.
        qemu = getattr(host, "qemu", None)
        if qemu is not None:
            try:
                qemu.wait(5)
            except subprocess.TimeoutExpired:
                pass
        if qemu is None or qemu.poll() is None:
            raise
        failure, gone = f"QEMU ended (status {qemu.returncode}): {e}", True
    finally:
        host.close()
    failed = [name for verdict, name in host.results if verdict != "ok"]
    passed = len(host.results) - len(failed)
    if failure:
        print(f"FAIL  {failure}", flush=True)
    print(f"vm: {passed} passed, {len(failed)} failed in {time.monotonic() - started:.0f} s; console log {args.log}")
    if gone:
        return 3
    return 1 if failure or failed or not host.results else 0


if __name__ == "__main__":
    sys.exit(main())
