#include "Loopback.h"

#include <exception>

#include "Configfs.h"

namespace kerneldrive {

namespace {

const std::string kFabric = configfs::kTarget + "/loopback";
const std::string kTargetName = "naa.5001405000000001";
const std::string kInitiatorName = "naa.5001405000000002";
constexpr char kDropNexus[] = "NULL";

}  // namespace

Loopback::Loopback() : target(kFabric + "/" + kTargetName), group(target + "/tpgt_1") {
  configfs::Make(kFabric, true);
  configfs::Make(target);
  configfs::Make(group);
  configfs::Set(group + "/nexus", kInitiatorName);
}

Loopback::~Loopback() {
  try {
    while (!luns.empty()) RemoveLun(luns.begin()->first);
    configfs::Set(group + "/nexus", kDropNexus);
    configfs::Remove(group);
    configfs::Remove(target);
  } catch (const std::exception&) {
    // The guest that runs the drive ends with it; what is left goes with the guest.
  }
}

std::string Loopback::LunPath(int lun) const {
  return group + "/lun/lun_" + std::to_string(lun);
}

void Loopback::AddLun(int lun, const std::string& device) {
  configfs::Make(LunPath(lun));
  const std::string link = LunPath(lun) + "/drive";
  configfs::Link(device, link);
  luns[lun] = link;
}

void Loopback::RemoveLun(int lun) {
  const auto linked = luns.find(lun);
  if (linked == luns.end()) return;
  configfs::Unlink(linked->second);
  luns.erase(linked);
  configfs::Remove(LunPath(lun));
}

}  // namespace kerneldrive
