// The kernel as a flasher run by the person reaches it: the optical drives through
// movrel-drive-helper, the root helper, over a stream socket (DriveHelperProtocol.h); everything
// else is the host's own, in the person's process (the window, the login manager's inhibitor, the
// journal, the reboot).
//
// - The optical devices are the helper's list, /dev/srN of SCSI type 5.
// - Open of /dev/srN asks the helper to open drive N, exclusively when O_EXCL is given; the
//   descriptor returned is a copy of the socket's, which stands for the helper's handle (it is a
//   number no other open file has) and is closed with it. The address ioctls answer from the list.
// - SG_IO goes to the helper with its data (to or from the device, up to 64 KiB) and comes back
//   with its status, sense and residue; a CDB longer than 16 bytes or more data is EINVAL.
// - LockDrive asks the helper for the lock of the drive at the address.
// - The process may send every command (the helper is root) and may ask for a reboot when it may
//   itself or the system manager is there: logind lets the person of an active session reboot,
//   as polkit's rule for org.freedesktop.login1.reboot says.
// A helper that has gone (its socket closed) answers every drive call with EIO. Calls from
// several threads go out one after the other and wait for their own replies, which a thread of
// the kernel's reads as they come: a drive's long command holds up no other drive's.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/linux/DriveHelperProtocol.h"
#include "platform/linux/LinuxKernel.h"

namespace movrel::platform {

class HelperKernel : public LinuxKernel {
 public:
  // `socket` is connected to a helper; `ended` runs once it has been closed (to wait for the
  // helper's process).
  HelperKernel(std::unique_ptr<LinuxKernel> host, int socket, std::function<void()> ended);
  ~HelperKernel() override;
  HelperKernel(const HelperKernel&) = delete;
  HelperKernel& operator=(const HelperKernel&) = delete;

  // Whether the helper answers: its first list came back.
  bool Answers();
  // The host's kernel, taken back from a helper that did not answer.
  std::unique_ptr<LinuxKernel> TakeHost() { return std::move(host); }

  std::vector<std::string> OpticalDevices() override;
  int Open(const std::string& path, int flags) override;
  void Close(int descriptor) override;
  int SgIo(int descriptor, sg_io_hdr& request) override;
  int GetIdLun(int descriptor, std::uint32_t& idLun) override;
  int GetBusNumber(int descriptor, int& host) override;
  int LockDrive(const ScsiAddress& address, int& descriptor) override;
  bool MayReboot() override;
  bool MaySendRawCommands() override { return true; }

  int ReadLink(const std::string& path, std::string& target) override;
  int MakeDirectory(const std::string& path, unsigned mode) override;
  int Status(const std::string& path, unsigned& owner, unsigned& mode) override;
  int Flock(int descriptor, int operation) override;
  bool Mounted(const std::string& path) override;
  int DescriptorStatus(int descriptor, unsigned& mode, std::uint64_t& device) override;
  int ReadAttribute(const std::string& path, std::string& text) override;
  std::string PowerSupplyClass() override;
  int Run(const std::vector<std::string>& command) override;
  bool SystemdBooted() override;
  int Inhibit(const std::string& what, const std::string& who, const std::string& why,
              const std::string& mode) override;
  bool JournalPresent() override;
  int JournalSend(const std::vector<std::string>& fields) override;

 private:
  struct Held {
    std::uint8_t handle = 0;
    drivehelper::DriveEntry entry;
  };

  // The helper's reply to `request`; nothing once the helper has gone.
  std::optional<drivehelper::Reply> Exchange(const drivehelper::Request& request);
  std::optional<drivehelper::DriveEntry> Listed(std::uint8_t drive);
  // A descriptor for the helper's `handle`; -EMFILE (the handle closed) when none can be had.
  int Keep(std::uint8_t handle, const drivehelper::DriveEntry& entry);
  std::optional<Held> Find(int descriptor);

  // Reads the helper's replies until it has gone.
  void Receive();

  std::unique_ptr<LinuxKernel> host;
  int socket;
  std::function<void()> ended;
  std::mutex sending;  // one request written at a time
  std::mutex lock;     // the members below
  std::condition_variable arrived;
  bool gone = false;
  std::uint32_t lastTag = 0;
  std::map<std::uint32_t, drivehelper::Reply> replies;     // by tag, until their request takes them
  std::map<std::uint8_t, drivehelper::DriveEntry> listed;  // the last list, by drive
  std::map<int, Held> held;                                // by descriptor
  std::thread receiver;  // last: it starts once the members above are there
};

// The kernel the flasher reaches the drives through: the host's when the process may send them
// every command (root, or CAP_SYS_RAWIO) or when movrel-drive-helper or pkexec is not installed;
// otherwise the helper's, started through pkexec (polkit asks for an administrator's password).
// When the helper does not answer (the password dialog dismissed, or no polkit agent, as in an
// SSH session, where pkexec ends at once), the person is told to run the flasher with sudo and
// the host's kernel is used.
std::unique_ptr<LinuxKernel> FlasherKernel(std::ostream& notices);

// The helper at `helper` started through `pkexec` (both absolute paths): a kernel that reaches the
// drives through it once it answered, or `host` when it did not (the person told, naming sudo).
std::unique_ptr<LinuxKernel> StartDriveHelper(std::unique_ptr<LinuxKernel> host,
                                              const std::string& pkexec, const std::string& helper,
                                              std::ostream& notices);

}  // namespace movrel::platform
