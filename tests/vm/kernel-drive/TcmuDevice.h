// One user-space device of the kernel's SCSI target (target_core_user): made in configfs as
// core/user_0/<name>, with the kernel's netlink replies turned off (no daemon answers them) and
// no time-out on its commands (with the default 30 s the kernel would answer a long programming
// command itself, with NOT READY); then its command ring, the UIO device whose name is
// "tcm-user/0/<name>/<config>", opened and mapped whole. A UIO device lets one opener in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kerneldrive {

class TcmuDevice {
 public:
  // Throws std::system_error or std::runtime_error when the kernel refuses a step.
  explicit TcmuDevice(const std::string& name);
  ~TcmuDevice();
  TcmuDevice(const TcmuDevice&) = delete;
  TcmuDevice& operator=(const TcmuDevice&) = delete;

  // The device's object in configfs, the target of a LUN's link.
  const std::string& Path() const { return path; }
  // Readable (poll) when the kernel has put commands on the ring.
  int Descriptor() const { return uio; }
  std::uint8_t* Region() const { return region; }
  std::size_t Size() const { return size; }

  // Takes the kernel's signal (a read of its 4-byte event count); tells the kernel that replies
  // wait on the ring (a 4-byte write).
  void TakeSignal();
  void Signal();

 private:
  std::string path;
  int uio = -1;
  std::uint8_t* region = nullptr;
  std::size_t size = 0;
};

}  // namespace kerneldrive
