#!/usr/bin/env python3
"""Runs the drivers' test executable inside the test machine and plays the host's part.

The host end of each serial line echoes every byte back. The guest asks for the rest on its
console, one request a line: "velmora-host: break" sends a telnet BREAK and then "Z" into ttyS1,
"velmora-host: unplug" and "velmora-host: plug" pull and plug the FTDI adapter,
"velmora-host: plug-other" plugs in another adapter of the same make (another serial number).
The guest's exit status is this program's; 77 (skipped) when the machine cannot be made here.
"""

import argparse
import os
import select
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "test-machine"))
import machine  # noqa: E402

SKIPPED = 77
TELNET_IAC = b"\xff"
TELNET_BREAK = b"\xff\xf3"


class Echo(threading.Thread):
    """Sends back what arrives on one line's socket. In telnet mode 0xFF goes back doubled (the
    emulated UART reads FF FF as one FF; its own output is not escaped)."""

    def __init__(self, sock, telnet):
        super().__init__(daemon=True)
        self.sock = sock
        self.telnet = telnet
        self.lock = threading.Lock()  # one writer at a time: echo and requests share the socket
        self.enabled = threading.Event()
        self.stopping = False

    def send(self, data):
        with self.lock:
            self.sock.sendall(data)

    def run(self):
        self.sock.settimeout(0.2)
        while not self.stopping:
            try:
                data = self.sock.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                return
            if not data:
                return
            # Before the guest is up (the telnet negotiation) and while the adapter is out, what
            # arrives is dropped.
            if not self.enabled.is_set():
                continue
            if self.telnet:
                data = data.replace(TELNET_IAC, TELNET_IAC * 2)
            try:
                self.send(data)
            except OSError:
                return


# The serial number of the other adapter plugged in at the pulled one's name.
OTHER_ADAPTER_SERIAL = "VELMORA-OTHER"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--guest", required=True, help="the test executable to run inside")
    parser.add_argument("--work", required=True, help="a folder for the initramfs")
    parser.add_argument("--limit", type=float, default=280.0, help="seconds for the whole run")
    parser.add_argument("guest_args", nargs="*", help="passed to the test executable")
    args = parser.parse_args()

    command = []
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        if name in os.environ:
            command.append(f"{name}={os.environ[name]}")
    command += [os.path.abspath(args.guest), "--gtest_color=no"] + args.guest_args

    started = time.monotonic()
    try:
        vm = machine.Machine(command, args.work)
    except machine.Unavailable as e:
        print(f"skipped: {e}")
        return SKIPPED

    usb = Echo(vm.usb_line, telnet=False)
    uart = Echo(vm.uart_line, telnet=True)
    usb.start()
    uart.start()
    status = None
    tail = []
    pending = b""
    deadline = started + args.limit
    try:
        out = vm.process.stdout
        while status is None:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                print(f"run_in_machine: no verdict within {args.limit:.0f} s")
                break
            ready, _, _ = select.select([out], [], [], min(remaining, 1.0))
            if not ready:
                continue
            chunk = os.read(out.fileno(), 65536)
            if not chunk:
                print("run_in_machine: the machine ended without a verdict")
                break
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for raw in lines:
                line = raw.decode(errors="replace").rstrip("\r")
                print(line, flush=True)
                tail = (tail + [line])[-20:]
                if line == "machine: ready":
                    usb.enabled.set()
                    uart.enabled.set()
                elif line == "velmora-host: break":
                    uart.send(TELNET_BREAK + b"Z")
                elif line == "velmora-host: unplug":
                    usb.enabled.clear()
                    vm.unplug_usb()
                elif line == "velmora-host: plug":
                    vm.plug_usb()
                    usb.enabled.set()
                elif line == "velmora-host: plug-other":
                    vm.plug_usb(serial=OTHER_ADAPTER_SERIAL)
                    usb.enabled.set()
                elif line.startswith("machine: exit "):
                    status = int(line.split()[-1])
    finally:
        usb.stopping = uart.stopping = True
        vm.close()
    print(f"run_in_machine: {time.monotonic() - started:.1f} s, kernel {vm.version}")
    if status is None:
        return 1
    return 0 if status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
