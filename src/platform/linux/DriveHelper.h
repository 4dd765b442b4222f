// movrel-drive-helper's work: the root helper that serves the flasher, run as the person, the
// optical drives and nothing else. It answers the requests of DriveHelperProtocol.h:
// - List: /dev/srN whose SCSI device is of type 5 (an optical drive) in sysfs, with its address.
// - Open N: only a drive the list names, by its number, opened without following a symbolic link
//   and refused (ENODEV) unless it is the block device sysfs names. An exclusive open (O_EXCL:
//   EBUSY while a file system is mounted from the drive or another program holds it so) comes
//   with the drive's flasher-to-flasher lock: the one this flasher took with Lock, or else one
//   taken for the open, first (another flasher's hold refuses it, EWOULDBLOCK; a lock that cannot
//   be had is told and the drive opened without it).
// - Lock N: the drive's flasher-to-flasher lock, without opening the drive.
// - SgIo on an open drive's handle (EBADF otherwise), its fields as the reader checked them; the
//   commands of different handles run at once.
// - Close: an open drive's handle with its node (and the lock taken for it), or a lock's.
// At most kMostHandles at once (EMFILE past them). A malformed request ends the service; the
// drives and their locks close with the helper.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/linux/DriveHelperProtocol.h"

namespace movrel::platform {

class LinuxKernel;

class DriveHelper {
 public:
  // Notices for the person (a lock that cannot be had) go to `notices`.
  DriveHelper(LinuxKernel& kernel, std::ostream& notices);
  ~DriveHelper();
  DriveHelper(const DriveHelper&) = delete;
  DriveHelper& operator=(const DriveHelper&) = delete;

  struct Listed;  // a drive the list names, with its node's device number

  // Takes bytes as they came from the flasher and appends each request they complete to
  // `requests`. False as soon as a request is malformed (its length or its body): the helper
  // then ends, answering nothing more.
  bool Take(std::span<const std::uint8_t> bytes, std::vector<drivehelper::Request>& requests);

  // The reply to one request. SgIo may run on several threads at once, one per handle (EBUSY for
  // a handle whose command still runs), beside the other requests on one thread of their own.
  drivehelper::Reply Answer(const drivehelper::Request& request);

  // Serves the requests read from `in` with replies written to `out` until `in` ends (true) or a
  // request is malformed (false), then waits for the commands still running. Both are the
  // flasher's socket. Each command runs on a thread of its own, so that a drive's long command
  // (its flash programming) holds up no other drive's; there are no more of them than handles.
  bool Serve(int in, int out);

 private:
  struct Held;

  std::vector<Listed> List();
  std::optional<Listed> Find(std::uint8_t drive);
  std::uint32_t Open(const drivehelper::Request& request, std::uint8_t& handle);
  std::uint32_t Lock(const Listed& listed, int& lock);
  std::uint32_t LockAlone(std::uint8_t drive, std::uint8_t& handle);
  bool LockHeld(std::uint8_t drive);
  std::shared_ptr<Held> Claim(std::uint8_t handle, std::uint32_t& error);
  void Run(Held& held, const drivehelper::Request& request, drivehelper::Reply& reply);
  std::uint32_t Close(std::uint8_t handle);
  std::uint32_t Keep(std::shared_ptr<Held> held, std::uint8_t& handle);

  LinuxKernel& kernel;
  std::ostream& notices;
  std::vector<std::uint8_t> pending;  // the start of a request not yet whole
  std::mutex lock;                    // the handles, which the commands' threads look up
  std::map<std::uint8_t, std::shared_ptr<Held>> handles;  // by handle, 1..kMostHandles
};

}  // namespace movrel::platform
