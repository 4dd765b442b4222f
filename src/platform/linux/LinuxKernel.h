// The Linux kernel as the backend uses it: the optical devices, their descriptors, their locks
// and the few control requests sent to them, whether the process may reboot the machine, the
// programs it starts, and the system manager's services (the login manager's inhibitor locks and
// the journal). Calls answer with the kernel's error number rather than through errno, so that a
// kernel made up by a test answers exactly like the real one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sg_io_hdr;

namespace movrel::platform {

struct ScsiAddress;

class LinuxKernel {
 public:
  virtual ~LinuxKernel() = default;

  // The optical devices (/dev/sr0, /dev/sr1, ...), in any order.
  virtual std::vector<std::string> OpticalDevices() = 0;
  // readlink(2): 0 with the link's target, or the error number.
  virtual int ReadLink(const std::string& path, std::string& target) = 0;
  // mkdir(2) with the given mode (less the process's umask): 0, or the error number (EEXIST when
  // the path exists, whatever it is).
  virtual int MakeDirectory(const std::string& path, unsigned mode) = 0;
  // lstat(2) of the path itself, a symbolic link not followed: 0 with its owner's user ID and its
  // st_mode (type and permission bits), or the error number.
  virtual int Status(const std::string& path, unsigned& owner, unsigned& mode) = 0;
  // open(2): the descriptor, or the negated error number. A file that O_CREAT creates is readable
  // and writable by its owner alone (0600).
  virtual int Open(const std::string& path, int flags) = 0;
  virtual void Close(int descriptor) = 0;
  // flock(2): 0, or the error number (EWOULDBLOCK when another open of the file holds a lock
  // that conflicts, LOCK_NB given).
  virtual int Flock(int descriptor, int operation) = 0;
  // Whether a file system is mounted from the block device at `path`: its device number (the
  // node's st_rdev) is the major:minor field of a line of /proc/self/mountinfo, which lists the
  // mounts of the process's mount namespace (proc(5)).
  virtual bool Mounted(const std::string& path) = 0;
  // The flasher-to-flasher lock of the drive at `address` (DriveLockFile.h): 0 with the
  // descriptor that holds it until it is closed, or the error number (EWOULDBLOCK: another
  // flasher holds it).
  virtual int LockDrive(const ScsiAddress& address, int& descriptor);
  // ioctl(2) SG_IO: 0 when the request ran (its outcome is in `request`), or the error number.
  virtual int SgIo(int descriptor, sg_io_hdr& request) = 0;
  // ioctl(2) SCSI_IOCTL_GET_IDLUN: the device's word, id | lun << 8 | channel << 16 | host << 24,
  // each a byte wide; 0 or the error number.
  virtual int GetIdLun(int descriptor, std::uint32_t& idLun) = 0;
  // ioctl(2) SCSI_IOCTL_GET_BUS_NUMBER: the device's host number; 0 or the error number.
  virtual int GetBusNumber(int descriptor, int& host) = 0;

  // fstat(2) of an open descriptor: 0 with its st_mode and st_rdev (the device number of the
  // special file it is, in the C library's dev_t encoding, makedev(3)), or the error number. It
  // tells the file the descriptor holds, whatever path led there: open(2) follows a symbolic link
  // in the last component unless given O_NOFOLLOW, which then fails with ELOOP.
  virtual int DescriptorStatus(int descriptor, unsigned& mode, std::uint64_t& device) = 0;
  // One read(2) of a sysfs attribute file, e.g. /sys/class/block/sr0/dev: 0 with its text as the
  // kernel shows it (one value, its newline kept, within a page of 4096 bytes), or the error
  // number (ENOENT when the device or the attribute is not there). sysfs writes the whole value
  // at the first read (sysfs_kf_seq_show).
  virtual int ReadAttribute(const std::string& path, std::string& text) = 0;

  // The directory of the kernel's power supply class, /sys/class/power_supply: one entry per
  // supply (a link to its device's directory), each holding its attributes as files of one line.
  virtual std::string PowerSupplyClass() = 0;

  // Whether the process may reboot the machine: it runs as root or holds CAP_SYS_BOOT.
  virtual bool MayReboot() = 0;
  // Whether the process holds CAP_SYS_RAWIO in its effective set (root normally does).
  virtual bool MaySendRawCommands() = 0;
  // Runs the program at the absolute path named first (the PATH is never searched: the caller
  // may be root) with the given arguments and waits for it: its exit status, 127 when it could
  // not be started (e.g. there is no such file), -1 when it did not exit normally.
  virtual int Run(const std::vector<std::string>& command) = 0;
  // Whether systemd is the system manager, as sd_booted(3) tells: /run/systemd/system/ exists.
  virtual bool SystemdBooted() = 0;

  // The login manager's Inhibit(what, who, why, mode) over the system bus: the descriptor that
  // holds the inhibitor lock until it is closed, or the negated error number (no system bus, no
  // login manager, refused).
  virtual int Inhibit(const std::string& what, const std::string& who, const std::string& why,
                      const std::string& mode) = 0;
  // Whether the system journal is there to take records.
  virtual bool JournalPresent() = 0;
  // One structured record, its fields "NAME=value": 0, or the error number.
  virtual int JournalSend(const std::vector<std::string>& fields) = 0;
};

// The kernel this process runs on.
std::unique_ptr<LinuxKernel> HostKernel();

}  // namespace movrel::platform
