#include "SimPorts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace movrel::test {

using namespace platform;

namespace {

std::vector<std::uint8_t> Buffer(std::uint32_t length, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> buffer(std::max<std::size_t>(length, payload.size()) + 1, 0);
  std::copy(payload.begin(), payload.end(), buffer.begin());
  return buffer;
}

}  // namespace

std::string Reply::SenseText() const {
  char text[16];
  std::snprintf(text, sizeof text, "%02X/%02X/%02X", sense[0], sense[1], sense[2]);
  return text;
}

Cdb TestUnitReady() {
  return Cdb{};
}
Cdb Inquiry(std::uint8_t allocation) {
  return Cdb{0x12, 0, 0, 0, allocation};
}
Cdb StartStop(std::uint8_t operation) {
  return Cdb{0x1B, 0, 0, 0, operation};
}
Cdb EventStatus() {
  return Cdb{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 0x08};
}
Cdb FlashId() {
  return Cdb{0xDF, 0x11};
}

Cdb WriteBuffer(std::uint32_t offset, std::uint32_t length, std::uint8_t control) {
  return Cdb{0x3B,
             0x05,
             0x01,
             static_cast<std::uint8_t>(offset >> 16),
             static_cast<std::uint8_t>(offset >> 8),
             static_cast<std::uint8_t>(offset),
             static_cast<std::uint8_t>(length >> 16),
             static_cast<std::uint8_t>(length >> 8),
             static_cast<std::uint8_t>(length),
             control};
}

Cdb ReadBuffer(std::uint32_t offset, std::uint32_t length) {
  Cdb cdb = WriteBuffer(offset, length, 0);
  cdb[0] = 0x3C;
  cdb[1] = 0x01;
  return cdb;
}

AspiPort::AspiPort(sim::SimSystem& system)
    : system(system),
      module(system.LoadLibraryA("WNASPI32")),
      supportInfo(system.GetProcAddress(module, "GetASPI32SupportInfo")),
      send(system.GetProcAddress(module, "SendASPI32Command")) {}

AspiPort::~AspiPort() {
  if (Loaded()) system.FreeLibrary(module);
}

Reply AspiPort::SendTo(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun, const Cdb& cdb,
                       Dir dir, std::uint32_t length, const std::vector<std::uint8_t>& payload) {
  buffer = Buffer(length, payload);
  request = SrbExecScsiCmd{};
  request.SRB_Cmd = SC_EXEC_SCSI_CMD;
  request.SRB_HaId = adapter;
  request.SRB_Flags = dir == Dir::In ? SRB_DIR_IN : dir == Dir::Out ? SRB_DIR_OUT : 0;
  request.SRB_Target = target;
  request.SRB_Lun = lun;
  request.SRB_BufLen = length;
  request.SRB_BufPointer = length == 0 ? nullptr : buffer.data();
  request.SRB_SenseLen = SENSE_LEN;
  request.SRB_CDBLen = 12;
  std::memcpy(request.CDBByte, cdb.data(), cdb.size());
  const Handle event = system.CreateEventA(true, false);
  request.SRB_Flags |= SRB_EVENT_NOTIFY;
  request.SRB_PostProc = reinterpret_cast<void*>(event);
  send(&request);
  if (request.SRB_Status == SS_PENDING) system.WaitForSingleObject(event, 108000u * 1000u);
  system.CloseHandle(event);
  Reply reply;
  reply.completed =
      request.SRB_Status == SS_COMP || (request.SRB_Status == SS_ERR && request.SRB_TargStat == 2);
  reply.status = request.SRB_Status;
  reply.targetStatus = request.SRB_TargStat;
  reply.sense = {static_cast<std::uint8_t>(request.SenseArea[2] & 0x0F), request.SenseArea[12],
                 request.SenseArea[13]};
  reply.data.assign(buffer.begin(), buffer.end() - 1);
  return reply;
}

sim::BayConfig OneDrive() {
  sim::BayConfig bay;
  bay.aspi = true;
  bay.hostAdapters = 2;
  sim::DriveConfig drive;
  drive.address = {1, 0, 2, 0};
  drive.medium = true;
  bay.drives.push_back(drive);
  return bay;
}

}  // namespace movrel::test
