// A local SCSI host of the kernel's target (tcm_loop): a SAS-named target with one portal group
// (tpgt_1) and its nexus, on which each LUN linked to a device appears to the kernel's own SCSI
// layer as the device at host:0:1:<lun>. Linking a LUN runs the kernel's scan of it, so the
// device's handler must be serving by then; unlinking one removes the SCSI device, and waits for
// the commands in flight to it, so its handler must keep serving until the unlink returns.
#pragma once

#include <map>
#include <string>

namespace kerneldrive {

class Loopback {
 public:
  // Throws std::system_error when the kernel refuses a step.
  Loopback();
  // Unlinks the LUNs still linked, drops the nexus, removes the portal group and the target.
  ~Loopback();
  Loopback(const Loopback&) = delete;
  Loopback& operator=(const Loopback&) = delete;

  void AddLun(int lun, const std::string& device);
  void RemoveLun(int lun);

 private:
  std::string LunPath(int lun) const;

  std::string target;
  std::string group;
  std::map<int, std::string> luns;  // linked: LUN -> its link
};

}  // namespace kerneldrive
