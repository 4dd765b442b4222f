#include "sim/SimAspiManager.h"

#include <algorithm>
#include <cstring>

#include "sim/DriveBay.h"
#include "sim/SimSystem.h"

namespace movrel::sim {

using namespace platform;

namespace {

// Published ASPI for Win32 values the program itself never needs.
constexpr std::uint8_t kAbortFailed = 0x03;     // SS_ABORT_FAIL
constexpr std::uint8_t kInvalidSrb = 0xE0;      // SS_INVALID_SRB
constexpr std::uint8_t kCheckCondition = 0x02;  // target status
constexpr std::uint8_t kInitiatorId = 7;

void PutText(std::uint8_t (&field)[16], const char* text) {
  std::memset(field, ' ', sizeof field);
  std::memcpy(field, text, std::min(sizeof field, std::strlen(text)));
}

}  // namespace

AspiManager::AspiManager(const BayConfig& bay, DriveBay& drives, SimSystem& system)
    : installed(bay.aspi),
      status(bay.aspiStatus),
      adapters(bay.hostAdapters),
      drives(drives),
      system(system) {}

Module AspiManager::Load() {
  if (!installed) return 0;
  platform::Hold hold(lock);
  ++loadCount;
  return kModule;
}

ProcAddress AspiManager::Resolve(Module module, const char* procName) {
  if (module != kModule || LoadCount() == 0 || procName == nullptr) return {};
  if (std::strcmp(procName, "GetASPI32SupportInfo") == 0) return {&SupportInfoThunk, this};
  if (std::strcmp(procName, "SendASPI32Command") == 0) return {&SendThunk, this};
  return {};
}

bool AspiManager::Free(Module module) {
  platform::Hold hold(lock);
  if (module != kModule || loadCount == 0) return false;
  if (--loadCount == 0) pending.clear();  // the manager is gone with what it held
  return true;
}

int AspiManager::LoadCount() const {
  platform::Hold hold(lock);
  return loadCount;
}

std::size_t AspiManager::PendingRequests() const {
  platform::Hold hold(lock);
  return pending.size();
}

std::uint32_t AspiManager::SupportInfoThunk(void* context, void*) {
  return static_cast<const AspiManager*>(context)->SupportInfo();
}

std::uint32_t AspiManager::SendThunk(void* context, void* argument) {
  return static_cast<AspiManager*>(context)->Send(argument);
}

std::uint32_t AspiManager::SupportInfo() const {
  if (LoadCount() == 0) return std::uint32_t{SS_NO_ASPI} << 8;
  return std::uint32_t{status} << 8 | static_cast<std::uint8_t>(adapters);
}

std::uint32_t AspiManager::Send(void* request) {
  if (request == nullptr) return kInvalidSrb;
  auto* header = static_cast<SrbHeader*>(request);
  if (LoadCount() == 0) {
    header->SRB_Status = SS_NO_ASPI;  // called after the library was released
    return SS_NO_ASPI;
  }
  std::uint8_t result = kInvalidSrb;
  switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY:
      result = HostAdapterInquiry(*static_cast<SrbHaInquiry*>(request));
      break;
    case SC_RESCAN_SCSI_BUS:
      result = AdapterExists(header->SRB_HaId) ? SS_COMP : SS_INVALID_HA;
      break;
    case SC_GET_DEV_TYPE:
      result = DeviceType(*static_cast<SrbGetDeviceBlock*>(request));
      break;
    case SC_EXEC_SCSI_CMD:
      return Execute(*static_cast<SrbExecScsiCmd*>(request));
    case SC_ABORT_SRB:
      result = Abort(*static_cast<SrbAbort*>(request));
      break;
    default:
      break;
  }
  header->SRB_Status = result;
  return result;
}

std::uint8_t AspiManager::HostAdapterInquiry(SrbHaInquiry& request) const {
  // Adapter 0 always answers, so that the count can be read on a machine without adapters.
  if (request.SRB_HaId != 0 && !AdapterExists(request.SRB_HaId)) return SS_INVALID_HA;
  request.HA_Count = static_cast<std::uint8_t>(adapters);
  request.HA_SCSI_ID = kInitiatorId;
  PutText(request.HA_ManagerId, "ASPI for WIN32");
  PutText(request.HA_Identifier, "SIMULATED ATAPI");
  std::memset(request.HA_Unique, 0, sizeof request.HA_Unique);
  return SS_COMP;
}

std::uint8_t AspiManager::DeviceType(SrbGetDeviceBlock& request) const {
  if (!AdapterExists(request.SRB_HaId)) return SS_INVALID_HA;
  const auto drive = drives.FindOnAdapter(request.SRB_HaId, request.SRB_Target, request.SRB_Lun);
  if (!drive || drives.Vanished(*drive)) return SS_NO_DEVICE;
  request.SRB_DeviceType = DTYPE_CDROM;
  return SS_COMP;
}

std::uint8_t AspiManager::Execute(SrbExecScsiCmd& request) {
  {
    // A block posted again is a new request; the manager lets go of the old one.
    platform::Hold hold(lock);
    pending.erase(&request);
  }
  request.SRB_HaStat = 0;
  request.SRB_TargStat = 0;
  if (!AdapterExists(request.SRB_HaId)) {
    Complete(request, SS_INVALID_HA);
    return SS_INVALID_HA;
  }
  const auto drive = drives.FindOnAdapter(request.SRB_HaId, request.SRB_Target, request.SRB_Lun);
  if (!drive) {
    Complete(request, SS_NO_DEVICE);
    return SS_NO_DEVICE;
  }
  const bool in = (request.SRB_Flags & SRB_DIR_IN) != 0;
  const bool out = (request.SRB_Flags & SRB_DIR_OUT) != 0;
  if (in && out) {
    Complete(request, kInvalidSrb);
    return kInvalidSrb;
  }
  CommandBytes command{};
  std::copy_n(request.CDBByte, command.size(), command.begin());
  const DataPhase data{in    ? Transfer::In
                       : out ? Transfer::Out
                             : Transfer::None,
                       request.SRB_BufPointer, request.SRB_BufLen};
  const Answer answer = drives.Execute(*drive, command, data, system.GetClock().NowNanoseconds());
  if (answer.late) {
    // The drive does not answer within the program's wait: the request stays pending.
    platform::Hold hold(lock);
    pending.insert(&request);
    request.SRB_Status = SS_PENDING;
    return SS_PENDING;
  }
  std::uint8_t result = SS_COMP;
  if (answer.status == Answer::Status::CheckCondition) {
    const std::vector<std::uint8_t> sense = SenseBytes(answer);
    const std::size_t room = std::min<std::size_t>(request.SRB_SenseLen, sizeof request.SenseArea);
    std::memcpy(request.SenseArea, sense.data(), std::min(room, sense.size()));
    request.SRB_TargStat = kCheckCondition;
    result = SS_ERR;
  } else if (answer.status == Answer::Status::Failed) {
    result = SS_ERR;
  }
  Complete(request, result);
  return result;
}

std::uint8_t AspiManager::Abort(const SrbAbort& request) {
  if (!AdapterExists(request.SRB_HaId)) return SS_INVALID_HA;
  auto* target = static_cast<SrbExecScsiCmd*>(request.SRB_ToAbort);
  {
    platform::Hold hold(lock);
    if (pending.erase(target) == 0) return kAbortFailed;
  }
  Complete(*target, SS_ABORTED);
  return SS_COMP;
}

void AspiManager::Complete(SrbExecScsiCmd& request, std::uint8_t result) {
  request.SRB_Status = result;
  if ((request.SRB_Flags & SRB_EVENT_NOTIFY) != 0 && request.SRB_PostProc != nullptr) {
    system.SetEvent(reinterpret_cast<Handle>(request.SRB_PostProc));
  }
}

}  // namespace movrel::sim
