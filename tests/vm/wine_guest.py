"""The packaged Windows flasher under Wine inside the guest, on the guest's own drives.

Wine's IOCTL_SCSI_PASS_THROUGH_DIRECT is SG_IO on the device that a drive letter's "d::" link names,
so the flasher's commands go through its Windows backend, Wine and the guest's kernel. Wine runs
from the host's root, shared read-only over virtio-9p, in a chroot with fresh /proc, /sys and /dev
and a /tmp in memory. The prefix is made once on the host (tests/wine/wine-prefix) and copied for
each run into that /tmp: its files as links to the host's, the registry copied, since Wine rewrites
it (a guest stopped half-way would leave a broken one). Wine's output goes to files: its services
keep whatever output they were started with open for as long as they run.

A scenario's "wine" says {"family": "nt"|"win98", "aspi": "pass-through" (optional), "answers":
[the box answerer's answers, in order]}. With "aspi", the test ASPI manager
(PassThroughAspi.cpp, no real ASPI layer) is the WNASPI32.DLL beside the flasher, and Wine is told
to prefer it to its own: the consumer family's search finds it there first, while the NT family
loads the system directory's only, which is Wine's own.
"""

import fcntl
import shlex
import shutil
import subprocess
from pathlib import Path

HERE = Path(__file__).resolve().parent
QEMU = ["-virtfs", "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap"]
ASPI_MANAGER = Path("pass-through-aspi") / "WNASPI32.DLL"
BOX_ANSWERER = "box-answerer.exe"
TEMPLATE = "movrel.exe"
FLASHER = "movrel-packaged.exe"  # in the scenario's folder "wine"
ANSWER_LIMIT = 150  # seconds the box answerer lets the flasher run, within the boot limit

# The guest's /flasher: the chroot, then the run inside it. The host's files do not change while
# the guest runs, so the guest may keep what it read of them (cache=loose). The host's own /tmp,
# which the chroot's /tmp in memory covers, stays in reach as /tmp/.host: a work tree may be there.
GUEST = """#!/bin/sh
mkdir -p /host /host-tmp
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 host /host &&
  mount -o bind /host/tmp /host-tmp &&
  mount -t proc proc /host/proc && mount -t sysfs sysfs /host/sys &&
  mount -t devtmpfs devtmpfs /host/dev && mount -t tmpfs tmpfs /host/tmp &&
  mkdir /host/tmp/.host && mount -o bind /host-tmp /host/tmp/.host ||
  { echo "@@ wine: the host's root cannot be mounted"; exit 125; }
cp /scenario/wine-run /host/tmp/wine-run
exec chroot /host /bin/bash /tmp/wine-run
"""

# Inside the chroot, with the host's tools: the prefix's copy (its drive links as they are, and D:'s
# device the kernel's /dev/sr0), the family and the ASPI manager, then the box answerer running
# the flasher, host paths under /tmp taken where the chroot shows them. The box answerer's output,
# once it has ended, is the flasher's output; its exit status the flasher's.
CHROOT = r"""set -u
for path in prefix programs; do
  case ${!path} in /tmp/*) printf -v "$path" '/tmp/.host/%s' "${!path#/tmp/}" ;; esac
done
export HOME=/tmp WINEPREFIX=/tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cp -as "$prefix" "$WINEPREFIX"
for file in system.reg user.reg userdef.reg; do
  rm "$WINEPREFIX/$file" && cp "$prefix/$file" "$WINEPREFIX/$file"
done
rm -r "$WINEPREFIX/dosdevices" && cp -a "$prefix/dosdevices" "$WINEPREFIX/"
ln -sfn /dev/sr0 "$WINEPREFIX/dosdevices/d::"
mkdir /tmp/run && cp "$programs/$flasher" "$programs/box-answerer.exe" /tmp/run/
if [ "$family" != nt ]; then
  printf '\n[Software\\\\Wine\\\\AppDefaults\\\\%s] 0\n"Version"="%s"\n' "$flasher" "$family" \
    >>"$WINEPREFIX/user.reg"
fi
if [ -f "$programs/aspi/WNASPI32.DLL" ]; then
  cp "$programs/aspi/WNASPI32.DLL" /tmp/run/
  WINEDLLOVERRIDES+=";wnaspi32=n"
fi
answers=()
for answer in $box_answers; do answers+=(--answer "$answer"); done
cd /tmp/run
wine box-answerer.exe --timeout "$limit" "${answers[@]}" -- "$flasher" \
  </dev/null >/tmp/wine-output 2>/tmp/wine-errors
status=$?
tr -d '\r' </tmp/wine-output
[ $status -eq 0 ] || sed 's/^/@@ wine: /' /tmp/wine-errors
exit $status
"""


def missing(windows):
    """What the Wine scenarios need of the Windows build and it lacks, or None."""
    if windows is None:
        return "a Wine scenario needs the Windows build (--windows-bin)"
    for program in (windows / TEMPLATE, windows / BOX_ANSWERER, windows / ASPI_MANAGER):
        if not program.is_file():
            return f"no {program} (scripts/build-windows builds it)"
    return None


def host_prefix(work):
    """The prefix every Wine scenario copies, made or brought up to date by one scenario at a time."""
    prefix = work.resolve() / "wine-prefix"
    with open(work / "wine-prefix.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        made = subprocess.run([str(HERE.parent / "wine" / "wine-prefix"), str(prefix)],
                              capture_output=True, text=True)
    if made.returncode != 0:
        raise RuntimeError(f"no Wine prefix at {prefix} (is Wine installed? scripts/setup installs "
                           f"it): {made.stderr.strip()}")
    return prefix


def guest_files(scenario, windows, work, folder):
    """The guest's /flasher and what it runs in the chroot, for the flasher packaged into the
    folder's "wine" directory beside the programs the run needs; RuntimeError without a prefix."""
    wine = scenario["wine"]
    programs = folder.resolve() / "wine"  # the same path in the guest's chroot
    shutil.copy(windows / BOX_ANSWERER, programs)
    if wine.get("aspi") == "pass-through":
        (programs / "aspi").mkdir()
        shutil.copy(windows / ASPI_MANAGER, programs / "aspi")
    values = {"prefix": str(host_prefix(work)), "programs": str(programs),
              "family": wine["family"], "flasher": FLASHER,
              "box_answers": " ".join(wine.get("answers", [])), "limit": str(ANSWER_LIMIT)}
    settings = "".join(f"{key}={shlex.quote(value)}\n" for key, value in values.items())
    return [("flasher", 0o100755, GUEST.encode()),
            ("scenario/wine-run", 0o100644, (settings + CHROOT).encode())]
