// movrel-drive-helper's work: the root helper that serves the flasher, run as the person, the
// optical drives and nothing else. It answers the requests of DriveHelperProtocol.h:
// - List: /dev/srN whose SCSI device is of type 5 (an optical drive) in sysfs, with its address.
// - Open N: only a drive the list names, by its number; its flasher-to-flasher lock first (another
//   flasher's hold refuses it, EWOULDBLOCK; a lock that cannot be had is told and the drive
//   opened without it), then the node opened exclusively (O_EXCL: EBUSY while a file system is
//   mounted from it or another program holds it so) and without following a symbolic link, and
//   refused (ENODEV) unless it is the block device sysfs names.
// - SgIo on an open drive (EBADF otherwise), its fields as the reader checked them.
// - Close N: its node and its lock.
// A malformed request ends the service; the drives and their locks close with the helper.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <span>
#include <vector>

#include "platform/linux/DriveHelperProtocol.h"

namespace platform {

class LinuxKernel;

class DriveHelper {
 public:
  // Notices for the person (a lock that cannot be had) go to `notices`.
  DriveHelper(LinuxKernel& kernel, std::ostream& notices);
  ~DriveHelper();
  DriveHelper(const DriveHelper&) = delete;
  DriveHelper& operator=(const DriveHelper&) = delete;

  // Takes bytes as they came from the flasher and appends to `replies` the reply to each request
  // they complete. False as soon as a request is malformed (its length or its body): the helper
  // then ends, answering nothing more.
  bool Take(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& replies);

 private:
  struct Listed;
  struct Opened {
    int descriptor = -1;
    int lock = -1;  // the lock file's descriptor; -1 without the lock
  };

  std::vector<Listed> List();
  drivehelper::Reply Answer(const drivehelper::Request& request);
  std::uint32_t Open(std::uint8_t drive);
  void SgIo(const drivehelper::Request& request, drivehelper::Reply& reply);
  std::uint32_t Close(std::uint8_t drive);
  void Release(const Opened& opened);

  LinuxKernel& kernel;
  std::ostream& notices;
  std::vector<std::uint8_t> pending;  // the start of a request not yet whole
  std::map<std::uint8_t, Opened> opened;
};

}  // namespace platform
