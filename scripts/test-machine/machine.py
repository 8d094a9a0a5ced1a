"""A small test machine: Debian's own kernel under QEMU's software emulation, with the kernel's
8250 driver behind /dev/ttyS1 and its FTDI driver behind /dev/ttyUSB0.

The machine boots an initramfs made here at run time (busybox and the few modules the two
drivers and the 9p share need), mounts the host's whole tree read-only, and runs one command
chrooted into it, so a program built on the host runs inside with the host's own libraries.
Its console (ttyS0) comes back line by line; the host end of each serial line is a unix socket;
the QEMU monitor unplugs and plugs the FTDI adapter.

Nothing here waits without a bound: every wait takes a deadline, and the machine is killed when
its object is closed.
"""

import ctypes
import glob
import io
import os
import shlex
import shutil
import socket
import stat
import subprocess
import tempfile
import time

QEMU = "qemu-system-x86_64"
BUSYBOX = "/bin/busybox"
# In load order after their dependencies; modprobe resolves the chains.
MODULES = ["ftdi_sio", "xhci_pci", "virtio_pci", "9pnet_virtio", "9p"]
FTDI_DEVICE = "usb-serial,id=ftdi,chardev=usbline"
# QEMU makes an adapter's serial number from the USB port it sits in, which changes from one plug
# to the next; a real adapter keeps its own. This one does too.
FTDI_SERIAL = "VELMORA-FTDI"


class Unavailable(Exception):
    """The machine cannot be made here (QEMU, the kernel or busybox is not installed)."""


def find_kernel():
    """The newest installed kernel that has its modules: (version, image path)."""
    found = []
    for image in glob.glob("/boot/vmlinuz-*"):
        version = image[len("/boot/vmlinuz-"):]
        if os.path.exists(f"/lib/modules/{version}/modules.dep"):
            found.append((version, image))
    if not found:
        raise Unavailable("no kernel with modules under /boot and /lib/modules (package linux-image-amd64)")
    found.sort(key=lambda v: [(0, int(p), "") if p.isdigit() else (1, 0, p) for p in v[0].replace("-", ".").split(".")])
    version, image = found[-1]
    # Debian installs the kernel image readable by root only.
    if not os.access(image, os.R_OK):
        raise Unavailable(f"{image} is readable only by root")
    return version, image


def check_tools():
    if shutil.which(QEMU) is None:
        raise Unavailable(f"{QEMU} is not installed (package qemu-system-x86)")
    if not os.access(BUSYBOX, os.X_OK):
        raise Unavailable(f"{BUSYBOX} is not installed (package busybox-static)")
    if shutil.which("modprobe") is None and not os.access("/usr/sbin/modprobe", os.X_OK):
        raise Unavailable("modprobe is not installed (package kmod)")


def module_files(version):
    """Module files in load order, each once."""
    modprobe = shutil.which("modprobe") or "/usr/sbin/modprobe"
    ordered = []
    for name in MODULES:
        out = subprocess.run([modprobe, "-S", version, "--show-depends", name], capture_output=True,
                             text=True, check=True).stdout
        for line in out.splitlines():
            parts = line.split()
            if len(parts) >= 2 and parts[0] == "insmod" and parts[1] not in ordered:
                ordered.append(parts[1])
    return ordered


class _Cpio:
    """An uncompressed initramfs archive in the kernel's "newc" format."""

    def __init__(self):
        self.out = io.BytesIO()
        self.ino = 1

    def _entry(self, name, mode, data=b"", nlink=1):
        name_bytes = name.encode() + b"\0"
        header = "070701" + "".join(f"{v:08x}" for v in (
            self.ino, mode, 0, 0, nlink, 0, len(data), 0, 0, 0, 0, len(name_bytes), 0))
        self.ino += 1
        self.out.write(header.encode() + name_bytes)
        self.out.write(b"\0" * (-(110 + len(name_bytes)) % 4))
        self.out.write(data)
        self.out.write(b"\0" * (-len(data) % 4))

    def folder(self, name):
        self._entry(name, stat.S_IFDIR | 0o755, nlink=2)

    def file(self, name, data, mode=0o644):
        self._entry(name, stat.S_IFREG | mode, data)

    def finish(self):
        self._entry("TRAILER!!!", 0)
        return self.out.getvalue()


def _init_script(command, modules, keep=()):
    """`keep`: host folders under /tmp that the command needs (a build tree there): the guest's
    /tmp is a fresh one, and these are put back into it from the host's."""
    loads = "\n".join(f"insmod /modules/{os.path.basename(m)} || echo 'machine: insmod {os.path.basename(m)} failed'"
                      for m in modules)
    kept = "\n".join(f"mkdir -p /host{shlex.quote(d)} && mount -o bind /hosttmp{shlex.quote(d[len('/tmp'):])} /host{shlex.quote(d)}"
                      for d in keep)
    return f"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
{loads}
mkdir -p /host
if ! mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144 host /host; then
  echo "machine: the host's tree could not be mounted"
  echo "machine: exit 125"
  poweroff -f
fi
mount -t proc proc /host/proc
mount -t sysfs sys /host/sys
mount -t devtmpfs dev /host/dev
mkdir -p /hosttmp
mount -o bind /host/tmp /hosttmp
mount -t tmpfs tmp /host/tmp
{kept}
mount -t tmpfs run /host/run
mkdir -p /host/run/lock
n=0
while [ ! -e /dev/ttyUSB0 ] && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
echo "machine: ready"
chroot /host /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp {command}
echo "machine: exit $?"
poweroff -f
"""


def build_initramfs(path, version, command):
    modules = module_files(version)
    archive = _Cpio()
    for folder in ("bin", "dev", "proc", "sys", "modules"):
        archive.folder(folder)
    with open(BUSYBOX, "rb") as f:
        archive.file("bin/busybox", f.read(), 0o755)
    for module in modules:
        with open(module, "rb") as f:
            data = f.read()
        if module.endswith(".xz") or module.endswith(".zst"):
            raise Unavailable(f"compressed module {module}: busybox insmod cannot load it")
        archive.file("modules/" + os.path.basename(module), data)
    keep = sorted({os.path.dirname(c) for c in shlex.split(command) if c.startswith("/tmp/")})
    archive.file("init", _init_script(command, modules, keep).encode(), 0o755)
    with open(path, "wb") as f:
        f.write(archive.finish())


def _child_setup():
    os.nice(10)
    # The machine goes with whoever started it, also when that one is killed (a test runner's
    # timeout): a machine left running would take a core for good.
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, 9, 0, 0, 0)


class Machine:
    """One running machine. `lines()` yields the console's lines; `usb_line` and `uart_line` are
    connected sockets to the host ends of ttyUSB0 and ttyS1 (the latter in telnet mode)."""

    def __init__(self, command, work_dir, memory_mb=1024):
        check_tools()
        self.version, kernel = find_kernel()
        os.makedirs(work_dir, exist_ok=True)
        initramfs = os.path.join(work_dir, "initramfs.cpio")
        build_initramfs(initramfs, self.version, " ".join(shlex.quote(c) for c in command))
        # Unix socket paths are short (108 bytes); the build folder may be deep.
        self.sockets = tempfile.mkdtemp(prefix="velmora-machine-")
        usb = os.path.join(self.sockets, "usb")
        uart = os.path.join(self.sockets, "uart")
        monitor = os.path.join(self.sockets, "monitor")
        argv = [
            QEMU, "-accel", "tcg", "-m", str(memory_mb), "-smp", "1", "-nodefaults", "-no-reboot",
            "-display", "none", "-vga", "none",
            "-kernel", kernel, "-initrd", initramfs,
            "-append", "console=ttyS0 panic=-1 edd=off quiet loglevel=3",
            "-chardev", "stdio,id=console,signal=off", "-device", "isa-serial,chardev=console,index=0",
            "-chardev", f"socket,id=uartline,path={uart},server=on,wait=off,telnet=on",
            "-device", "isa-serial,chardev=uartline,index=1",
            "-device", "qemu-xhci",
            "-chardev", f"socket,id=usbline,path={usb},server=on,wait=off",
            "-device", f"{FTDI_DEVICE},serial={FTDI_SERIAL}",
            "-virtfs", "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap",
            "-monitor", f"unix:{monitor},server=on,wait=off",
        ]
        self.process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, preexec_fn=_child_setup)
        self.usb_line = self._connect(usb)
        self.uart_line = self._connect(uart)
        self.monitor = self._connect(monitor)
        self._monitor_text(2.0)  # the banner and first prompt

    def _connect(self, path, limit=20.0):
        deadline = time.monotonic() + limit
        while True:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                s.connect(path)
                return s
            except OSError:
                s.close()
                if self.process.poll() is not None:
                    raise RuntimeError(f"QEMU ended at start: {self.process.stdout.read().decode(errors='replace')}")
                if time.monotonic() > deadline:
                    raise RuntimeError(f"QEMU did not offer {path}")
                time.sleep(0.05)

    def _monitor_text(self, limit):
        self.monitor.settimeout(0.2)
        text = b""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline and not text.endswith(b"(qemu) "):
            try:
                chunk = self.monitor.recv(4096)
            except socket.timeout:
                continue
            if not chunk:
                break
            text += chunk
        return text.decode(errors="replace")

    def monitor_command(self, command):
        self.monitor.sendall(command.encode() + b"\n")
        return self._monitor_text(5.0)

    def unplug_usb(self):
        return self.monitor_command("device_del ftdi")

    def plug_usb(self, serial=None):
        """Plugs the adapter back; with `serial`, another adapter of the same make at its place.

        The guest may see the adapter gone before QEMU has let go of its line: the line is then
        still "in use", and the plug is tried again for a few seconds."""
        command = f"device_add {FTDI_DEVICE},serial={serial or FTDI_SERIAL}"
        deadline = time.monotonic() + 5.0
        while True:
            answer = self.monitor_command(command)
            if ("in use" not in answer and "Duplicate" not in answer) or time.monotonic() > deadline:
                return answer
            time.sleep(0.2)

    def close(self):
        for s in (self.usb_line, self.uart_line, self.monitor):
            try:
                s.close()
            except OSError:
                pass
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        shutil.rmtree(self.sockets, ignore_errors=True)
