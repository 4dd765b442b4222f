#!/usr/bin/env python3
"""The packaged terminal flasher against emulated optical drives, in a small virtual machine.

    vmtest.py prepare --work DIR               installs QEMU and busybox, fetches and unpacks a
                                               Debian kernel into the cache, builds the guest's
                                               base initramfs
    vmtest.py run SCENARIO --work DIR --bin DIR [--windows-bin DIR]
                                               packages the flasher of DIR for the scenario,
                                               boots it under QEMU, drives the tray from the
                                               host, checks what the flasher printed and what
                                               the drive received; a scenario's kernel drive
                                               (DIR's movrel-kernel-drive) serves the simulated
                                               machine's drives from inside the guest, and what
                                               they received is compared with what DIR's
                                               movrel-console-sim sends the same drives; a Wine
                                               scenario runs the Windows build's movrel.exe
                                               under Wine in the guest instead (wine_guest.py);
                                               a "person" scenario runs the flasher as uid 1000,
                                               with DIR's drive helper and a pkexec stand-in

Scenarios are in scenarios.json beside this file. Exit status: 0 passed, 1 failed, 77 skipped
(QEMU cannot start a virtual machine on this host).
"""

import argparse
import hashlib
import json
import lzma
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import wine_guest

HERE = Path(__file__).resolve().parent
SKIP = 77
PACKAGES = {"qemu-system-x86": "qemu-system-x86_64", "busybox-static": "/bin/busybox",
            "genisoimage": "genisoimage"}
# What the scenarios load; their dependencies are read from each module's .modinfo.
MODULES = ["ata_piix", "virtio_pci", "virtio_scsi", "sr_mod", "sg", "scsi_debug", "isofs",
           "target_core_user", "tcm_loop", "9p", "9pnet_virtio"]
BOOT_LIMIT = 120  # seconds for one scenario's whole boot, run and power-off

# The flasher's package: the firmware of the model that a drive of the scenarios may claim to be;
# no restart after a success unless the scenario's options say otherwise.
PACKAGE = [
    "--model", "Dornavex DVDRW KTR-207M", "--new-fw", "1=RV0D",
    "--constraint", "1=RV01,RV0D,Dornavex,DVDRW KTR-207M",
]
DEFAULT_OPTIONS = ["REBOOT=0"]
IMAGE_SIZE = 1048576
USER_HZ = 100  # the unit of the CPU times in /proc/<pid>/stat on x86


def say(text):
    print(text, flush=True)


def run(command, **options):
    return subprocess.run(command, check=True, **options)


# ---- what the test installs ----

def installed(package):
    result = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package],
                            capture_output=True, text=True)
    return result.returncode == 0 and result.stdout.endswith(" installed")


def install_packages():
    missing = [name for name in PACKAGES if not installed(name)]
    if not missing:
        return
    say("installing " + " ".join(missing))
    command = ["apt-get", "install", "-y", "-qq", "--no-install-recommends", *missing]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    if subprocess.run(command, env=env, stdout=subprocess.DEVNULL).returncode != 0:
        subprocess.run(["apt-get", "update", "-qq"], env=env)
        if subprocess.run(command, env=env, stdout=subprocess.DEVNULL).returncode != 0:
            sys.exit(f"vm: FAILED: could not install {' '.join(missing)} (as root, with apt)")


def cache_root():
    base = os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache")
    return Path(base) / "movrel-vm"


def kernel_package():
    """The package of Debian's current kernel, e.g. linux-image-6.1.0-57-amd64."""
    for attempt in range(2):
        text = run(["apt-cache", "depends", "linux-image-amd64"],
                   capture_output=True, text=True).stdout
        found = re.search(r"Depends: (linux-image-[0-9]\S*-amd64)", text)
        if found:
            return found.group(1)
        if attempt == 0:
            run(["apt-get", "update", "-qq"])  # no package lists yet
    sys.exit("vm: no kernel in 'apt-cache depends linux-image-amd64':\n" + text)


def elf_section(path, wanted):
    """The bytes of one section of a 64-bit little-endian ELF file."""
    data = path.read_bytes()
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A)

    def header(index):
        return struct.unpack_from("<IIQQQQ", data, shoff + index * shentsize)

    names = header(shstrndx)
    for index in range(shnum):
        name, _, _, _, offset, size = header(index)
        start = names[4] + name
        if data[start:data.index(b"\0", start)].decode() == wanted:
            return data[offset:offset + size]
    return b""


def module_depends(path):
    for field in elf_section(path, ".modinfo").split(b"\0"):
        if field.startswith(b"depends="):
            return [name.replace("-", "_") for name in field[8:].decode().split(",") if name]
    return []


def unpack_kernel(package, target):
    """vmlinux (the vmlinuz's xz payload: boots faster under TCG) and the modules MODULES need."""
    work = Path(tempfile.mkdtemp(prefix="movrel-vm-kernel-"))
    try:
        work.chmod(0o755)  # apt downloads as its own user
        say(f"fetching {package}")
        run(["apt-get", "download", "-qq", package], cwd=work)
        deb = next(work.glob("*.deb"))
        run(["dpkg-deb", "-x", str(deb), str(work / "root")])
        vmlinuz = next((work / "root" / "boot").glob("vmlinuz-*")).read_bytes()
        payload = vmlinuz.find(b"\xfd7zXZ\x00")
        vmlinux = lzma.LZMADecompressor().decompress(vmlinuz[payload:])
        available = {ko.stem.replace("-", "_"): ko
                     for ko in (work / "root" / "lib" / "modules").rglob("*.ko")}
        (work / "out" / "modules").mkdir(parents=True)
        (work / "out" / "vmlinux").write_bytes(vmlinux)
        depends, pending = {}, list(MODULES)
        while pending:
            name = pending.pop()
            if name in depends or name not in available:
                continue  # built into the kernel
            shutil.copy(available[name], work / "out" / "modules" / f"{name}.ko")
            depends[name] = [d for d in module_depends(available[name]) if d in available]
            pending += depends[name]
        (work / "out" / "modules.json").write_text(json.dumps(depends, indent=1, sort_keys=True))
        (work / "out" / "wanted.json").write_text(json.dumps(MODULES))
        shutil.move(work / "out", target)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def load_order(wanted, depends):
    order = []

    def visit(name):
        if name not in order:
            for dependency in depends[name]:
                visit(dependency)
            order.append(name)

    for name in wanted:
        visit(name)
    return order


def cpio(entries):
    """A newc archive of (name, mode, bytes) entries; mode 0o040755 and None make a directory."""
    out = bytearray()
    for number, (name, mode, data) in enumerate([*entries, ("TRAILER!!!", 0, None)], 1):
        body = data or b""
        encoded = name.encode() + b"\0"
        fields = [number, mode, 0, 0, 1, 0, len(body), 0, 0, 0, 0, len(encoded), 0]
        out += b"070701" + "".join(f"{value:08X}" for value in fields).encode() + encoded
        out += b"\0" * (-len(out) % 4) + body + b"\0" * (-len(body) % 4)
    return bytes(out + b"\0" * (-len(out) % 512))


def qemu_starts():
    """None when QEMU can start a machine here, else why it cannot."""
    try:
        result = subprocess.run(
            ["qemu-system-x86_64", "-accel", "tcg", "-machine", "pc", "-nodefaults",
             "-display", "none", "-S", "-qmp", "stdio"],
            input='{"execute": "qmp_capabilities"}\n{"execute": "quit"}\n',
            capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as error:
        return str(error)
    if result.returncode != 0 or '"return"' not in result.stdout:
        said = (result.stderr or result.stdout).strip().splitlines()
        return said[-1] if said else f"exit status {result.returncode}"
    return None


def prepare(work):
    work.mkdir(parents=True, exist_ok=True)
    (work / "skip").unlink(missing_ok=True)
    install_packages()
    reason = qemu_starts()
    if reason:
        (work / "skip").write_text(f"SKIPPED: QEMU cannot start a virtual machine here: {reason}")
        say((work / "skip").read_text())
        return SKIP
    package = kernel_package()
    kernel = cache_root() / package
    wanted = kernel / "wanted.json"
    if not wanted.exists() or not set(MODULES) <= set(json.loads(wanted.read_text())):
        kernel.parent.mkdir(parents=True, exist_ok=True)
        for older in kernel.parent.glob("linux-image-*"):
            shutil.rmtree(older)
        unpack_kernel(package, kernel)
    entries = [(path, 0o040755, None) for path in
               ("bin", "dev", "proc", "run", "sys", "tmp", "lib", "lib/modules", "scenario")]
    # The guest's own small programs, static: lock-door in every guest; the pkexec stand-in and
    # watch-run where the person runs the flasher (person_files).
    for tool in ("lock-door", "pkexec", "watch-run"):
        run(["cc", "-static", "-O2", "-Wall", "-Wextra", "-Werror", "-o", str(work / tool),
             str(HERE / f"{tool}.c")])
    entries += [("bin/busybox", 0o100755, Path("/bin/busybox").read_bytes()),
                ("bin/lock-door", 0o100755, (work / "lock-door").read_bytes()),
                ("init", 0o100755, (HERE / "init").read_bytes())]
    entries += [(f"lib/modules/{ko.name}", 0o100644, ko.read_bytes())
                for ko in sorted((kernel / "modules").glob("*.ko"))]
    (work / "base.cpio").write_bytes(cpio(entries))
    (work / "kernel").write_text(str(kernel))
    say(f"vm: kernel {package} from {kernel}")
    return 0


# ---- one boot ----

class Machine:
    """A QEMU process: its serial console as text, QMP for the host's hand on the tray, and the
    second serial port, on which the host types the flasher's answers when they are due."""

    def __init__(self, args, folder):
        self.folder = folder
        self.console = b""
        self.changed = threading.Condition()
        self.events, self.answers = [], []
        self.before_host = 0  # events that came before the host's first action
        self.mark = None  # the size of QEMU's trace when the host had acted, before it answered
        qmp_path = folder / "qmp.sock"
        keyboard_path = folder / "answers.sock"
        self.process = subprocess.Popen(
            ["qemu-system-x86_64", *args, "-qmp", f"unix:{qmp_path},server=on,wait=off",
             "-chardev", f"socket,id=answers,path={keyboard_path},server=on,wait=off",
             "-serial", "chardev:answers"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.readers = [threading.Thread(target=self._read, daemon=True)]
        self.readers[0].start()
        self.qmp = socket.socket(socket.AF_UNIX)
        for _ in range(100):
            try:
                self.qmp.connect(str(qmp_path))
                break
            except OSError:
                if self.process.poll() is not None:
                    raise
                time.sleep(0.1)
        self.readers.append(threading.Thread(target=self._read_qmp, daemon=True))
        self.readers[1].start()
        self.command("qmp_capabilities")
        self.keyboard = socket.socket(socket.AF_UNIX)
        self.keyboard.connect(str(keyboard_path))

    def trace_size(self):
        return (self.folder / "qemu-trace.txt").stat().st_size

    def type(self, text):
        """Answers for the flasher, as lines; "@@eof" ends its input."""
        self.keyboard.sendall(text.encode())

    def _read(self):
        with open(self.folder / "console.txt", "wb") as log:
            while chunk := self.process.stdout.read1(4096):
                log.write(chunk)
                log.flush()
                with self.changed:
                    self.console += chunk
                    self.changed.notify_all()
        with self.changed:
            self.changed.notify_all()

    def text(self):
        return self.console.decode(errors="replace").replace("\r\n", "\n")

    def wait_for(self, pattern, deadline):
        with self.changed:
            while pattern not in self.text():
                if self.process.poll() is not None or time.monotonic() > deadline:
                    return False
                self.changed.wait(0.5)
        return True

    def _read_qmp(self):
        """Events (the tray's moves) are kept; answers are handed to command()."""
        for line in self.qmp.makefile("r"):
            message = json.loads(line)
            with self.changed:
                if "event" in message:
                    self.events.append(message)
                elif "QMP" not in message:  # with the events that came before it
                    self.answers.append((message, len(self.events)))
                self.changed.notify_all()

    def command(self, name, arguments=None):
        """QMP's answer, and how many events QEMU sent before it: QMP keeps its stream in order,
        so an event that happened before the command was sent is among them, whenever this
        process's reader thread got to it."""
        request = {"execute": name, **({"arguments": arguments} if arguments else {})}
        self.qmp.sendall(json.dumps(request).encode() + b"\n")
        with self.changed:
            while not self.answers:
                if not self.changed.wait(30):
                    return {"error": "no answer"}, len(self.events)
            return self.answers.pop(0)

    def finish(self, deadline):
        try:
            self.process.wait(max(1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        for reader in self.readers:
            reader.join(10)
        self.qmp.close()
        self.keyboard.close()


# ---- what each peer received ----

def qemu_commands(log, mark):
    """The commands an emulated SCSI drive received, from QEMU's trace: 'CDB -> good' or
    'CDB -> K/AA/QQ' a line, with '-- host' where the host acted."""
    lines, by_tag, position = [], {}, 0
    for raw in log.splitlines(keepends=True):
        if mark is not None and position >= mark:
            lines.append("-- host")
            mark = None
        position += len(raw)
        request = re.search(r"scsi_disk_new_request .*tag=(0x[0-9a-f]+) data=(.*)", raw)
        sense = re.search(r"scsi_req_build_sense .*tag (-?\d+) key (\S+) asc (\S+) ascq (\S+)", raw)
        if request:
            cdb = " ".join(f"{int(byte, 16):02x}" for byte in request.group(2).split())
            by_tag[int(request.group(1), 16)] = len(lines)
            lines.append(f"{cdb} -> good")
        elif sense and int(sense.group(1)) & 0xFFFFFFFF in by_tag:  # a tag printed signed
            key, asc, ascq = (int(value, 16) for value in sense.groups()[1:])
            index = by_tag[int(sense.group(1)) & 0xFFFFFFFF]
            lines[index] = lines[index].replace("good", f"{key:x}/{asc:02x}/{ascq:02x}")
    if mark is not None:
        lines.append("-- host")
    return lines


def scsi_debug_commands(console):
    """The commands scsi_debug received, from its own log in the guest's kernel log (opts=1)."""
    lines = []
    for raw in console.splitlines():
        command = re.search(r"^@@ log .*scsi_debug.*: tag=.*, cmd ([0-9a-f ]+)$", raw)
        sense = re.search(r"^@@ log .*scsi_debug.*\[sense_key,asc,ascq\]: "
                          r"\[0x([0-9a-f]+),0x([0-9a-f]+),0x([0-9a-f]+)\]", raw)
        if command:
            lines.append(command.group(1).strip() + " -> good")
        elif sense and lines:
            key, asc, ascq = (int(value, 16) for value in sense.groups())
            lines[-1] = lines[-1].replace("good", f"{key:x}/{asc:02x}/{ascq:02x}")
    return lines


# ---- the kernel drive: the simulated machine's drives behind the guest's own SCSI target ----

KERNEL_DRIVE = "movrel-kernel-drive"
# Serves /scenario/bay.json: configfs mounted, the control FIFO made for the host's hand, which
# the init forwards from the answers port; with "one_drive_first", the flasher first updates the
# bay's first drive alone, timed in the same guest, and that drive is taken away again.
SERVE = """mount -t configfs configfs /sys/kernel/config
mkfifo /tmp/drive-control
"""
ONE_DRIVE_FIRST = """movrel-kernel-drive /scenario/one-drive.json /tmp/one-drive-trace /tmp/drive-control &
server=$!
while [ ! -e /sys/class/block/sr0 ]; do sleep 0.05; done
started=$(cut -d' ' -f1 /proc/uptime)
printf 'y\\n' | /flasher >/tmp/one-drive-output 2>&1
echo "@@ one drive exit $? ran $started $(cut -d' ' -f1 /proc/uptime)"
kill $server
wait $server
"""
# With "program_ms", the drives' programming commands take that long.
SERVE_BAY = "movrel-kernel-drive {options}/scenario/bay.json /tmp/drive-trace /tmp/drive-control &\n"
REPORT_TRACE = "sed 's/^/@@ trace /' /tmp/drive-trace\n"
# With "flash_is_image", the drives first note in the trace what their flash memory holds.
NOTE_FLASHES = """printf 'note-flashes\\n' >/tmp/drive-control
tries=0
while [ "$(grep -c '^- flash ' /tmp/drive-trace)" -lt {drives} ] && [ $tries -lt 100 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
"""


def kernel_drive_commands(console):
    """The kernel drive's trace, as the guest printed it after the flasher: the simulated machine's
    lines, '<drive> <12 command bytes> <in|out|none> <length> <outcome>' and its notes."""
    return [line[len("@@ trace "):] for line in console.splitlines() if line.startswith("@@ trace ")]


def kernel_drive_files(scenario, binaries, after=""):
    """The guest's files that serve the scenario's bay, and what reports its trace; `after` is
    reported after it."""
    bay = scenario.get("kernel_drive")
    if bay is None:
        return [("scenario/serve", 0o100644, b""), ("scenario/after", 0o100644, after.encode())]
    serve = SERVE
    files = [("bin/" + KERNEL_DRIVE, 0o100755, (binaries / KERNEL_DRIVE).read_bytes()),
             ("scenario/bay.json", 0o100644, json.dumps(bay).encode())]
    if "one_drive_first" in scenario:
        one = dict(bay, drives=bay["drives"][:1])
        files.append(("scenario/one-drive.json", 0o100644, json.dumps(one).encode()))
        serve += ONE_DRIVE_FIRST
    notes = ""
    if scenario.get("flash_is_image"):
        notes = NOTE_FLASHES.format(drives=len(bay["drives"]))
    options = f"--program-ms {scenario['program_ms']} " if "program_ms" in scenario else ""
    serve += SERVE_BAY.format(options=options)
    return files + [("scenario/serve", 0o100644, serve.encode()),
                    ("scenario/after", 0o100644, (notes + REPORT_TRACE + after).encode())]


# ---- the flasher run by the person: uid 1000, its drives reached through the root helper ----

HELPER = "/usr/libexec/movrel/movrel-drive-helper"
PERSON = "1000:1000"
# What /proc/PID/status shows of the person's flasher at every sample: the person's uid and gid in
# each of their four places, and no capability permitted or in effect.
PERSON_IDENTITY = ("Uid: 1000 1000 1000 1000 Gid: 1000 1000 1000 1000 "
                   "CapPrm: 0000000000000000 CapEff: 0000000000000000")
# The person (in no group of root's: the drives' nodes are root's own), the FIFO the flasher's
# XAUTHORITY names (root's, 0600: only root could open it, and none of the run may), and the
# watcher of the run.
PERSON_BEFORE = """mkdir -p /etc
echo 'root:x:0:0::/:/bin/sh' >/etc/passwd
echo 'user:x:1000:1000::/:/bin/sh' >>/etc/passwd
printf 'root:x:0:\\nuser:x:1000:\\n' >/etc/group
chown 0:0 /dev/sr* /dev/sg*
mkfifo -m 600 /tmp/xauthority
watch-run /tmp/xauthority /tmp/watch-report &
echo $! >/tmp/watch-run.pid
"""
PERSON_ENVIRONMENT = "XAUTHORITY=/tmp/xauthority"
PERSON_AFTER = """kill $(cat /tmp/watch-run.pid)
tries=0
while [ ! -e /tmp/watch-report ] && [ $tries -lt 100 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
cat /tmp/watch-report
if [ -e /run/pkexec-calls ]; then sed 's/^/@@ pkexec /' /run/pkexec-calls; fi
"""


def shared_libraries(program):
    """The host's paths of the shared libraries a program loads, its loader included (ldd)."""
    listed = run(["ldd", str(program)], capture_output=True, text=True).stdout
    return [Path(path) for path in re.findall(r"(?:=> |^\s*)(/\S+) \(0x", listed, re.M)]


def person_files(scenario, binaries, work):
    """The guest's files for a flasher the person runs: the drive helper where it is installed,
    with the host's copies of the libraries it loads at their own paths; the pkexec stand-in,
    setuid root, and with "agent": false its file that makes it find no authentication agent;
    and watch-run."""
    helper = binaries / "movrel-drive-helper"
    programs = [(HELPER, 0o100755, helper.read_bytes()),
                ("/usr/bin/pkexec", 0o104755, (work / "pkexec").read_bytes()),
                ("/bin/watch-run", 0o100755, (work / "watch-run").read_bytes())]
    programs += [(str(library), 0o100755, library.read_bytes())
                 for library in shared_libraries(helper)]
    if not scenario["person"].get("agent", True):
        programs.append(("/scenario/pkexec-no-agent", 0o100644, b""))
    folders = sorted({str(parent) for name, _, _ in programs
                      for parent in Path(name).parents if str(parent) != "/"})
    return ([(folder[1:], 0o040755, None) for folder in folders] +
            [(name[1:], mode, data) for name, mode, data in programs])


def check_person(person, console, failures):
    """pkexec was asked once, for the drive helper alone; every sample of the flasher's process
    showed the person's identity (PERSON_IDENTITY); the helper was seen running as root where
    pkexec had an agent to ask, and never where it had none; no process opened the FIFO that the
    flasher's XAUTHORITY names, nor waited in its open."""
    calls = re.findall(r"^@@ pkexec (.*)$", console, re.M)
    if len(calls) != 1:
        failures.append(f"pkexec was asked {len(calls)} times, not once: {calls}")
    for call in calls:
        arguments = call.split(" ")
        if (len(arguments) != 2 or arguments[0].rpartition("/")[2] != "pkexec"
                or arguments[1] != HELPER):
            failures.append(f"pkexec was asked '{call}', not for {HELPER} alone")
    seen = re.findall(r"^@@ watch (flasher|helper) (.*) seen (\d+)$", console, re.M)
    flasher = [identity for kind, identity, _ in seen if kind == "flasher"]
    if not flasher:
        failures.append("the flasher's process was never seen")
    for identity in flasher:
        if identity != PERSON_IDENTITY:
            failures.append(f"the flasher's process had '{identity}', not '{PERSON_IDENTITY}'")
    as_root = [identity for kind, identity, _ in seen
               if kind == "helper" and identity.startswith("Uid: 0 0 0 0 Gid: 0 0 0 0 ")]
    if person.get("agent", True) and not as_root:
        failures.append("the drive helper was never seen running as root")
    if not person.get("agent", True) and any(kind == "helper" for kind, _, _ in seen):
        failures.append("the drive helper ran though pkexec found no agent")
    fifo = re.search(r"^@@ watch fifo probes (\d+) readers (\d+) other-errors (\d+) opens (\d+)$",
                     console, re.M)
    if not fifo:
        failures.append("no report on the XAUTHORITY FIFO")
        return
    probes, readers, others, opens = map(int, fifo.groups())
    say(f"vm: XAUTHORITY's FIFO: {probes} probes, {readers} found a reader, {opens} opened it")
    if probes == 0 or readers or others or opens:
        failures.append(f"XAUTHORITY's FIFO: {readers} of {probes} probes found a reader, "
                        f"{others} failed otherwise than with ENXIO, {opens} opens")


def simulated_commands(scenario, binaries, folder, failures):
    """What movrel-console-sim, packaged as the flasher, sends the scenario's bay, answered as the
    person in the guest answers: its own person at the machine lends the host's hand. The drives'
    lines of its trace; the machine's own ('- ...') are left out. It must end as the scenario's
    flasher ends."""
    package_flasher(scenario, binaries, folder, "movrel-console-sim", "sim-flasher")
    (folder / "bay.json").write_text(json.dumps(scenario["kernel_drive"]))
    answers = scenario["answers"] + "".join(action.get("answer", "")
                                            for action in scenario.get("host", []))
    trace = folder / "sim-trace.txt"
    environment = dict(os.environ, MOVREL_SIM_BAY=str(folder / "bay.json"),
                       MOVREL_SIM_TRACE=str(trace))
    with open(folder / "sim-output.txt", "w") as output:
        status = subprocess.run([str(folder / "sim-flasher")], input=answers, text=True,
                                env=environment, stdout=output, stderr=subprocess.STDOUT,
                                timeout=120).returncode
    if status != scenario["exit"]:
        failures.append(f"the simulated flasher ended with status {status}, not {scenario['exit']}")
    return [line for line in trace.read_text().splitlines() if not line.startswith("- ")]


def is_programming(line):
    """The programming command: WRITE BUFFER with control byte 80 or A0 (byte 9)."""
    command = line.split()[1:13]
    return command[:3] == ["3B", "05", "01"] and command[9] in ("80", "A0")


def compare_with_simulated(received, simulated, own, failures):
    """Drive by drive, what the kernel drive received is what the simulated flasher sent, line for
    line, but for the kernel's own commands (open, close, media polling: the patterns `own`, on the
    command bytes onwards), which may come in between; and none of those comes between the drive's
    first WRITE BUFFER and its programming command."""
    names = list(dict.fromkeys(line.split()[0] for line in simulated))
    for name in names:
        expected = [line for line in simulated if line.split()[0] == name]
        writes = [i for i, line in enumerate(expected) if line.split()[1] == "3B"]
        programming = next((i for i, line in enumerate(expected) if is_programming(line)), None)
        position, between = 0, []
        for line in (line for line in received if line.split()[0] == name):
            if position < len(expected) and line == expected[position]:
                position += 1
                continue
            if not any(re.search(pattern, line.partition(" ")[2]) for pattern in own):
                wanted = expected[position] if position < len(expected) else "nothing more"
                failures.append(f"kernel drive {name}: '{line}' where the simulated flasher sent "
                                f"'{wanted}', and it is none of the kernel's own")
                break
            if writes and programming is not None and writes[0] < position <= programming:
                between.append(line)
        else:
            if position < len(expected):
                failures.append(f"kernel drive {name}: the simulated flasher's '{expected[position]}' "
                                f"and {len(expected) - position - 1} more never arrived")
        if between:
            failures.append(f"kernel drive {name}: the kernel's own commands between the first WRITE "
                            "BUFFER and the programming command:\n  " + "\n  ".join(between))


def check_flash(received, image, failures):
    """Each drive's flash memory holds the package's image, byte for byte: the SHA-256 that the
    kernel drive noted for it after the run is the image's."""
    wanted = hashlib.sha256(image.read_bytes()).hexdigest()
    noted = [line.split() for line in received if line.startswith("- flash ")]
    if not noted:
        failures.append("the kernel drive noted no flash memory")
    for _, _, name, _, digest in noted:
        if digest != wanted:
            failures.append(f"kernel drive {name}: its flash memory is not the package's image")


def check_at_once(received, drives, failures):
    """Each of the drives had its first chunk before any drive had its programming command: the
    updates ran at the same time, not one after the other."""
    chunks = [i for i, line in enumerate(received) if line.split()[1:13] ==
              ["3B", "05", "01", "00", "00", "00", "00", "40", "00", "00", "00", "00"]]
    firsts = {received[i].split()[0]: i for i in reversed(chunks)}
    programmed = [i for i, line in enumerate(received) if is_programming(line)]
    if len(firsts) != drives or not programmed or max(firsts.values()) > min(programmed):
        failures.append("the drives were not updated at the same time: a drive's first chunk came "
                        "after another drive's programming command, or none was programmed")


def guest_seconds(pattern, console):
    """The seconds between the two uptimes of the guest's line that `pattern` finds."""
    found = re.search(pattern + r" ([\d.]+) ([\d.]+)$", console, re.M)
    return float(found.group(2)) - float(found.group(1)) if found else None


def compare_one_drive(limit, console, failures):
    """The flasher's wall time on all the drives against its time on one of them alone, in the same
    guest: at most `limit` times as long."""
    one = guest_seconds(r"^@@ one drive exit 0 ran", console)
    all_drives = guest_seconds(r"^@@ ran", console)
    if one is None or all_drives is None:
        failures.append("no time of the one-drive run (it must end with status 0) or of the run")
        return
    ratio = all_drives / one
    say(f"vm: one drive {one:.2f} s, all drives {all_drives:.2f} s: {ratio:.2f} times")
    if ratio > limit:
        failures.append(f"all drives took {ratio:.2f} times as long as one, more than {limit}")


def check_flasher_cpu(limit, console, failures):
    """The flasher's CPU time over its run, in user space and in the kernel, at most `limit`
    seconds: a drive that waits costs none, however many wait at once."""
    found = re.search(r"^@@ cpu (\d+) (\d+) (\d+) (\d+)$", console, re.M)
    if found is None:
        failures.append("no CPU time of the flasher")
        return
    user_before, system_before, user_after, system_after = map(int, found.groups())
    user = (user_after - user_before) / USER_HZ
    system = (system_after - system_before) / USER_HZ
    say(f"vm: the flasher's CPU time: {user:.2f} s in user space, {system:.2f} s in the kernel")
    if user + system > limit:
        failures.append(f"the flasher took {user + system:.2f} s of CPU time, more than {limit}")


def check_flasher_seconds(limit, console, failures):
    """The flasher's wall time in the guest, from its start to its end: at most `limit` seconds."""
    seconds = guest_seconds(r"^@@ ran", console)
    if seconds is None:
        failures.append("no time of the flasher's run")
        return
    say(f"vm: the flasher ran {seconds:.2f} s in the guest")
    if seconds > limit:
        failures.append(f"the flasher ran {seconds:.2f} s in the guest, more than {limit} s")


# ---- checks ----

def in_order(lines, patterns, match):
    """The patterns found in order, each on a later line than the one before; the first missing."""
    position = 0
    for pattern in patterns:
        while position < len(lines) and not match(pattern, lines[position]):
            position += 1
        if position == len(lines):
            return pattern
        position += 1
    return None


def check_lines(what, lines, expected, match, failures):
    """in_order: patterns found in that order; only: for each filter, the lines it keeps are
    exactly these."""
    missing = in_order(lines, expected.get("in_order", []), match)
    if missing is not None:
        failures.append(f"{what}: no '{missing}' (in order)")
    for selection, wanted in expected.get("only", {}).items():
        kept = [line for line in lines if match(selection, line)]
        if kept != wanted:
            failures.append(f"{what}, lines of '{selection}':\n  " + "\n  ".join(kept) +
                            "\nnot\n  " + "\n  ".join(wanted))


def drive_line(drive, address, letter):
    host, channel, target, lun = (int(part) for part in address.split(":"))
    identity = f"{drive['vendor']:<8}{drive['product']:<16}"
    return f"{host:2d}-{channel}-{target}-{lun} {letter}:{identity:>24} {drive['revision']:>4}"


def check_listed(output, console, expected, failures):
    """The drive list, one line per drive in the order of the kernel's sr numbers, each with the
    address and identity of the drive found at its controller's place in the guest's sysfs."""
    found = re.findall(r"^@@ drive sr(\d+) (\S+) (\S+)$", console, re.M)
    lines = []
    for number, address, path in sorted(found, key=lambda entry: int(entry[0])):
        drive = next((d for d in expected if d["under"] in path), None)
        if drive is None:
            failures.append(f"drives: sr{number} at {path} is none of the scenario's")
            return
        lines.append(drive_line(drive, address, chr(ord("D") + int(number))))
    if len(lines) != len(expected):
        failures.append(f"drives: the guest has {len(lines)}, not {len(expected)}")
    block = "".join(rf"^(?:[> ] \d+\) )?{re.escape(line)}\n" for line in lines)
    if not re.search(block, output, re.M):
        failures.append("list: no block of the lines\n" + "\n".join(lines))


# ---- a scenario ----

def package_flasher(scenario, binaries, folder, template="movrel-console", output="flasher"):
    """The scenario's package in a copy of the template. Its image is of one byte throughout; with
    "new_identity" (vendor, product, revision) it begins with the record that makes a simulated
    drive report that identity once it has programmed the image (sim/ImageIdentity.h)."""
    image = bytearray([scenario.get("image_byte", ord("Z"))]) * IMAGE_SIZE
    if "new_identity" in scenario:
        vendor, product, revision = scenario["new_identity"]
        record = f"MOVREL-SIM-IMAGE{vendor:<8}{product:<16}{revision:<4}".encode()
        image[:64] = record.ljust(64, b"\0")
    (folder / "image.bin").write_bytes(image)
    given = scenario.get("options", [])
    named = {option.partition("=")[0] for option in given}
    chosen = [option for option in DEFAULT_OPTIONS if option.partition("=")[0] not in named] + given
    options = [item for option in chosen for item in ("--option", option)]
    run([str(binaries / "movrel-pack"), "pack", "--template", str(binaries / template),
         "--output", str(folder / output), "--bank", f"1={folder / 'image.bin'}",
         *PACKAGE, *options, "--allow-template-texts"], stdout=subprocess.DEVNULL)


def act(machine, action, deadline):
    """The host's hand, once the text appears: the QMP commands, all again until each succeeds
    (the guest may move the tray in between), or the action on the kernel drive, done when the
    drive says so; then the person's answer to the box, if any. Returns what went wrong, or None."""
    if not machine.wait_for(action["after"], deadline):
        return f"host: '{action['after']}' never appeared"
    if "drive" in action:
        machine.type(f"@@drive {action['drive']}\n")
        if not machine.wait_for(f"@@ kernel drive: done: {action['drive']}", deadline):
            return f"host: the kernel drive never did '{action['drive']}'"
        machine.type(action.get("answer", ""))
        return None
    for attempt in range(50):
        replies = [machine.command(name, arguments) for name, arguments in action["qmp"]]
        answers = [answer for answer, _ in replies]
        if attempt == 0:
            machine.before_host = replies[0][1]
        if all("return" in answer for answer in answers):
            machine.mark = machine.trace_size()
            machine.type(action.get("answer", ""))
            return None
        time.sleep(0.2)
    return f"host: {action['qmp']} kept failing: {answers}"


def missing_programs(scenario, binaries, windows):
    """What the scenario needs of the builds and does not find there, or None."""
    tools = ["movrel-console", "movrel-pack"]
    if "program" in scenario:
        tools.append(scenario["program"])
    if "kernel_drive" in scenario:
        tools += [KERNEL_DRIVE, "movrel-console-sim"]
    if "person" in scenario:
        tools.append("movrel-drive-helper")
    for tool in tools:
        if not (binaries / tool).is_file():
            return f"no {binaries / tool} (the dev preset builds it)"
    # The flasher looks for the helper where its build's install prefix puts it: /usr in the
    # package (scripts/package), /usr/local unless a build says otherwise.
    if "person" in scenario and HELPER.encode() not in (binaries / "movrel-console").read_bytes():
        return (f"{binaries / 'movrel-console'} does not look for the drive helper "
                f"at {HELPER}: build it with -DCMAKE_INSTALL_PREFIX=/usr, as the package is")
    return wine_guest.missing(windows) if "wine" in scenario else None


# ---- the guest ----

def guest_flasher(scenario, work, binaries, windows, folder):
    """The initramfs entries of what the guest runs in the flasher's place: the packaged terminal
    flasher, the scenario's own program, or the Windows flasher with Wine's files. Raises
    RuntimeError when the Windows build's files cannot be had."""
    if "wine" in scenario:
        (folder / "wine").mkdir()
        package_flasher(scenario, binaries, folder, windows.resolve() / wine_guest.TEMPLATE,
                        f"wine/{wine_guest.FLASHER}")
        return wine_guest.guest_files(scenario, windows, work, folder)
    if "program" in scenario:  # the scenario's own program in the flasher's place
        return [("flasher", 0o100755, (binaries / scenario["program"]).read_bytes())]
    package_flasher(scenario, binaries, folder)
    return [("flasher", 0o100755, (folder / "flasher").read_bytes())]


def guest_initrd(scenario, work, binaries, kernel, flasher, folder):
    """The base initramfs with the flasher and the scenario's files: the modules to load in
    order, the drives to wait for, what runs before the flasher and as whom."""
    depends = json.loads((kernel / "modules.json").read_text())
    parameters = scenario.get("module_parameters", {})
    modules = "".join(f"{module} {parameters.get(module, '')}\n"
                      for module in load_order(scenario["modules"], depends))
    person = "person" in scenario  # the flasher run by the person, its drives through the helper
    before = (PERSON_BEFORE if person else "") + scenario.get("before", "")
    files = [*flasher,
             ("scenario/modules", 0o100644, modules.encode()),
             ("scenario/drives", 0o100644, str(len(scenario["drives"])).encode()),
             ("scenario/before", 0o100644, before.encode()),
             ("scenario/run_as", 0o100644, scenario.get("run_as", PERSON if person else "").encode()),
             ("scenario/environment", 0o100644, (PERSON_ENVIRONMENT if person else "").encode()),
             *(person_files(scenario, binaries, work) if person else []),
             *kernel_drive_files(scenario, binaries, PERSON_AFTER if person else "")]
    (folder / "initrd").write_bytes((work / "base.cpio").read_bytes() + cpio(files))


def guest_disc(scenario, folder):
    """The disc image in the emulated drive: one the guest can mount, or 1 MiB of zeros."""
    if scenario.get("disc") == "iso9660":  # a disc the guest can mount
        (folder / "disc").mkdir()
        (folder / "disc" / "README.TXT").write_text("a data disc\n")
        run(["genisoimage", "-quiet", "-V", "MOVREL", "-o", str(folder / "disc.iso"),
             str(folder / "disc")])
    else:
        (folder / "disc.iso").write_bytes(bytes(2048 * 512))


def build_guest(scenario, work, binaries, windows, folder):
    """The scenario's folder filled with the guest's initramfs and disc; returns QEMU's
    arguments. Raises RuntimeError when the guest cannot be built."""
    kernel = Path((work / "kernel").read_text())
    flasher = guest_flasher(scenario, work, binaries, windows, folder)
    guest_initrd(scenario, work, binaries, kernel, flasher, folder)
    guest_disc(scenario, folder)
    args = ["-accel", "tcg", "-machine", "pc", "-m", str(scenario.get("memory", 256)),
            "-smp", str(scenario.get("cpus", 1)),
            "-nodefaults", "-nographic",
            "-serial", "stdio", "-no-reboot", "-kernel", str(kernel / "vmlinux"),
            "-initrd", str(folder / "initrd"),
            "-append", "console=ttyS0 rdinit=/init quiet panic=-1",
            "-trace", "scsi_disk_new_request", "-trace", "scsi_req_build_sense",
            "-D", str(folder / "qemu-trace.txt")]
    args += [arg.replace("{disc}", str(folder / "disc.iso")) for arg in scenario["qemu"]]
    args += wine_guest.QEMU if "wine" in scenario else []
    return args


# ---- the boot ----

class Boot:
    """One boot of the guest: the machine, once it has ended, when it started, had its drives
    ready and ended, how long the flasher ran, and what went wrong on the way."""

    def __init__(self, machine, started):
        self.machine = machine
        self.started = self.ready = self.ended = started
        self.ran = 0.0
        self.flasher_ended = False
        self.failures = []


def boot_and_answer(scenario, args, folder):
    """Boots the guest and plays the person and the host: the scenario's answers, then each of the
    host's actions when its text appears; then the person goes, and the guest powers off."""
    started = time.monotonic()
    deadline = started + scenario.get("boot_limit", BOOT_LIMIT)
    boot = Boot(Machine(args, folder), started)
    machine, failures = boot.machine, boot.failures
    try:
        booted = machine.wait_for("@@ ready", deadline)
        boot.ready = time.monotonic()
        if not booted:
            failures.append("the guest never got its drives ready")
        if booted and not machine.wait_for("@@ keyboard", deadline):
            failures.append("the guest never listened for the answers")
        machine.type(scenario["answers"])
        for action in scenario.get("host", []) if booted else []:
            problem = act(machine, action, deadline)
            if problem:
                failures.append(problem)
        machine.type("@@eof\n")  # the person has gone: the flasher's input ends
        boot.flasher_ended = machine.wait_for("@@ exit", deadline)
        boot.ran = time.monotonic() - boot.ready
        if not machine.wait_for("@@ end", deadline):
            failures.append("the guest did not finish in time")
    finally:
        machine.finish(deadline)
    boot.ended = time.monotonic()
    return boot


# ---- the checks ----

def check_output(scenario, console, output, failures):
    """The flasher's exit status, its lines, the guest's and the drive list."""
    status = re.search(r"^@@ exit (\d+)$", console, re.M)
    if "exit" in scenario and (not status or int(status.group(1)) != scenario["exit"]):
        failures.append(f"exit status {status.group(1) if status else 'none'}, "
                        f"not {scenario['exit']}")
    check_lines("output", output.splitlines(), scenario.get("output", {}),
                lambda text, line: text in line, failures)
    for text in scenario.get("console", []):  # from the guest at any time, e.g. a served drive's
        if text not in console:
            failures.append(f"console: no '{text}'")
    if scenario.get("listed", True):  # false: the flasher ends before it lists the drives
        check_listed(output, console, scenario["drives"], failures)


def check_received(scenario, binaries, folder, machine, console, failures):
    """What the scenario's peer received, against its patterns, the simulated flasher's commands
    and the image; returns the commands."""
    peer, commands = scenario.get("peer"), []
    if peer:
        trace = (folder / "qemu-trace.txt").read_text(errors="replace")
        commands = (qemu_commands(trace, machine.mark) if peer == "qemu" else
                    kernel_drive_commands(console) if peer == "kernel_drive" else
                    scsi_debug_commands(console))
        (folder / "commands.txt").write_text("".join(line + "\n" for line in commands))
        check_lines(f"{peer} received", commands, scenario.get("commands", {}),
                    lambda pattern, line: re.search(pattern, line), failures)
    if "same_as_simulated" in scenario:
        simulated = simulated_commands(scenario, binaries, folder, failures)
        compare_with_simulated(commands, simulated, scenario["same_as_simulated"], failures)
    if scenario.get("flash_is_image"):
        check_flash(commands, folder / "image.bin", failures)
    return commands


def check_measures(scenario, console, commands, failures):
    """What the guest measured of the flasher: its drives one after the other or at once, its CPU
    time and seconds, and the person's process."""
    if "one_drive_first" in scenario:
        compare_one_drive(scenario["one_drive_first"], console, failures)
    if "flasher_cpu" in scenario:
        check_flasher_cpu(scenario["flasher_cpu"], console, failures)
    if "person" in scenario:
        check_person(scenario["person"], console, failures)
    if "flasher_seconds" in scenario:
        check_flasher_seconds(scenario["flasher_seconds"], console, failures)
    if scenario.get("at_once"):
        check_at_once(commands, len(scenario["kernel_drive"]["drives"]), failures)


def check_machine(scenario, folder, boot, output, failures):
    """What QEMU saw (a restart, the tray), a figure the program prints, and the flasher's time."""
    machine = boot.machine
    (folder / "qmp-events.json").write_text(json.dumps(machine.events, indent=1))
    restarted = any(event["event"] == "SHUTDOWN" and event["data"].get("reason") == "guest-reset"
                    for event in machine.events)
    if restarted != scenario.get("restarts", False):
        failures.append("the guest restarted" if restarted else "the guest did not restart")
    if scenario.get("tray_opened_before_host") and not any(
            event["event"] == "DEVICE_TRAY_MOVED" and event["data"]["tray-open"]
            for event in machine.events[:machine.before_host]):
        failures.append("QEMU reported no tray opened before the host acted")

    ratio = scenario.get("ratio")  # a figure the program prints: "<line> <value>", at most a limit
    if ratio:
        found = re.search(rf"^{re.escape(ratio['line'])} ([\d.]+)$", output, re.M)
        if not found or float(found.group(1)) > ratio["at_most"]:
            failures.append(f"'{ratio['line']}' is {found.group(1) if found else 'missing'}, "
                            f"not at most {ratio['at_most']}")

    limit = scenario.get("run_limit")
    if limit is not None and (not boot.flasher_ended or boot.ran > limit):
        failures.append(f"the flasher ran {boot.ran:.1f} s, more than {limit} s")


def check(scenario, binaries, folder, boot):
    """Every check of the scenario on the boot; returns the console."""
    failures = boot.failures
    console = boot.machine.text()
    output = console.partition("@@ keyboard\n")[2].partition("@@ exit")[0]  # the flasher's
    (folder / "output.txt").write_text(output)
    check_output(scenario, console, output, failures)
    commands = check_received(scenario, binaries, folder, boot.machine, console, failures)
    check_measures(scenario, console, commands, failures)
    check_machine(scenario, folder, boot, output, failures)
    return console


# ---- a scenario ----

def run_scenario(name, work, binaries, windows):
    if (work / "skip").exists():
        say((work / "skip").read_text())
        return SKIP
    if not (work / "kernel").exists():
        say(f"vm {name}: FAILED: {work} is not prepared (vmtest.py prepare)")
        return 1
    scenario = json.loads((HERE / "scenarios.json").read_text())[name]
    missing = missing_programs(scenario, binaries, windows)
    if missing:
        say(f"vm {name}: FAILED: {missing}")
        return 1
    folder = work / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    try:
        args = build_guest(scenario, work, binaries, windows, folder)
    except RuntimeError as error:
        say(f"vm {name}: FAILED: {error}")
        return 1

    boot = boot_and_answer(scenario, args, folder)
    console = check(scenario, binaries, folder, boot)

    say(f"vm {name}: boot {boot.ready - boot.started:.1f} s, run {boot.ended - boot.ready:.1f} s; "
        f"logs in {folder}")
    for failure in boot.failures:
        say("FAILED " + failure)
    if boot.failures:
        shown = [line for line in console.splitlines() if not line.startswith("@@ log ")]
        say("---- console, the kernel's log left out (last 40 lines)\n" + "\n".join(shown[-40:]))
    return 1 if boot.failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("step", choices=["prepare", "run"])
    parser.add_argument("scenario", nargs="?")
    parser.add_argument("--work", type=Path, required=True)
    parser.add_argument("--bin", type=Path)
    parser.add_argument("--windows-bin", type=Path, help="the Windows build's bin/, for Wine")
    options = parser.parse_args()
    if options.step == "prepare":
        return prepare(options.work)
    return run_scenario(options.scenario, options.work, options.bin, options.windows_bin)


if __name__ == "__main__":
    sys.exit(main())
