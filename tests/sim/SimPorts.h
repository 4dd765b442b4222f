// How a test reaches a simulated drive: the ASPI manager's execute request, posted with an event
// as the program posts it. The pass-through way in is the program's own transport, checked with
// the device tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/WinTypes.h"
#include "sim/SimSystem.h"

namespace movrel::test {

using Cdb = std::array<std::uint8_t, 12>;
enum class Dir { In, Out, None };

struct Reply {
  // The drive answered: SS_COMP, or SS_ERR with a check condition.
  bool completed = false;
  std::uint8_t status = 0;              // SRB_Status
  std::uint8_t targetStatus = 0;        // SRB_TargStat
  std::array<std::uint8_t, 3> sense{};  // key, ASC, ASCQ from the returned sense data
  std::vector<std::uint8_t> data;       // the data buffer after the command

  bool Good() const { return completed && targetStatus == 0 && sense[0] == 0; }
  std::string SenseText() const;  // "02/3A/00"
};

// Command blocks as the program builds them.
Cdb TestUnitReady();
Cdb Inquiry(std::uint8_t allocation = 96);
Cdb StartStop(std::uint8_t operation);  // 0x03 load, 0x02 eject, 0x00 stop
Cdb EventStatus();
Cdb FlashId();
Cdb WriteBuffer(std::uint32_t offset, std::uint32_t length, std::uint8_t control);
Cdb ReadBuffer(std::uint32_t offset, std::uint32_t length);

class AspiPort {
 public:
  explicit AspiPort(sim::SimSystem& system);
  ~AspiPort();
  AspiPort(const AspiPort&) = delete;
  AspiPort& operator=(const AspiPort&) = delete;

  bool Loaded() const { return module != 0; }
  std::uint32_t SupportInfo() const { return supportInfo(); }
  std::uint32_t Post(void* request) const { return send(request); }
  // Posts an execute request with an event, as the program does, to the drive at this host
  // adapter, target and LUN; the request block stays in `request` for a test that looks further.
  Reply SendTo(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun, const Cdb& cdb, Dir dir,
               std::uint32_t length, const std::vector<std::uint8_t>& payload = {});
  // The same to the drive of OneDrive.
  Reply Send(const Cdb& cdb, Dir dir, std::uint32_t length,
             const std::vector<std::uint8_t>& payload = {}) {
    return SendTo(1, 2, 0, cdb, dir, length, payload);
  }
  platform::SrbExecScsiCmd request{};

 private:
  sim::SimSystem& system;
  platform::Module module;
  platform::ProcAddress supportInfo;
  platform::ProcAddress send;
  std::vector<std::uint8_t> buffer;
};

// One drive "D" (root D:\, address [1, 0, 2, 0], seen by the ASPI manager) with a disc.
sim::BayConfig OneDrive();

}  // namespace movrel::test
