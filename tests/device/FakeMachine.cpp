#include "FakeMachine.h"

#include <algorithm>
#include <cstring>

namespace devtest {

namespace {
constexpr char kRoots[] = "C:\\\0D:\\\0";  // and the empty string that ends the list

void WriteSense(std::uint8_t* area, const Answer& answer) {
  if (answer.senseKey == 0) return;
  area[0] = 0x70;
  area[2] = answer.senseKey;
  area[12] = answer.asc;
  area[13] = answer.ascq;
}

void WriteReply(void* buffer, std::uint32_t length, const Answer& answer) {
  if (buffer == nullptr || answer.reply.empty()) return;
  std::memcpy(buffer, answer.reply.data(), std::min<std::size_t>(length, answer.reply.size()));
}
}  // namespace

FakeMachine::FakeMachine(sim::Family family, bool aspiInstalled) : aspiInstalled(aspiInstalled) {
  SetFamily(family);
}

void FakeMachine::ClearRecords() {
  passThroughRequests.clear();
  passThroughHandles.clear();
  aspiRequests.clear();
  aspiCommands.clear();
}

Answer FakeMachine::NextAnswer(const std::uint8_t* command) {
  if (answers.empty()) return responder ? responder(command) : Answer{};
  Answer answer = answers.front();
  answers.pop_front();
  return answer;
}

std::uint32_t FakeMachine::GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) {
  if (buffer == nullptr || bufferLength < sizeof kRoots) return sizeof kRoots;
  std::memcpy(buffer, kRoots, sizeof kRoots);
  return sizeof kRoots - 1;
}

std::uint32_t FakeMachine::GetDriveTypeA(const char* rootPathName) {
  return std::strcmp(rootPathName, "D:\\") == 0 ? platform::DriveType::CdRom
                                                : platform::DriveType::Fixed;
}

platform::Handle FakeMachine::CreateFileA(const char* fileName) {
  if (!driveOpens || std::strcmp(fileName, "\\\\.\\D:") != 0) return platform::InvalidHandleValue;
  ++deviceOpens;
  return kDriveHandle;
}

bool FakeMachine::CloseHandle(platform::Handle handle) {
  if (handle != kDriveHandle) return sim::SimSystem::CloseHandle(handle);
  ++deviceCloses;
  return true;
}

bool FakeMachine::DeviceIoControl(platform::Handle device, std::uint32_t ioControlCode, void*,
                                  std::uint32_t, void* outBuffer, std::uint32_t,
                                  std::uint32_t* bytesReturned) {
  *bytesReturned = 0;
  if (ioControlCode == platform::ioctl::ScsiGetAddress) {
    *static_cast<platform::ScsiAddress*>(outBuffer) = {8, 1, 0, 2, 3};
    return device == kDriveHandle;
  }
  auto& request = *static_cast<movrel::PassThroughRequest*>(outBuffer);
  passThroughRequests.push_back(request);
  passThroughHandles.push_back(device);
  const Answer answer = NextAnswer(request.sptd.Cdb);
  Sleep(answer.milliseconds);
  if (device != kDriveHandle || !answer.completes) return false;
  WriteSense(reinterpret_cast<std::uint8_t*>(&request) + request.sptd.SenseInfoOffset, answer);
  WriteReply(request.sptd.DataBuffer, request.sptd.DataTransferLength, answer);
  return true;
}

platform::Module FakeMachine::LoadLibraryA(const char* fileName) {
  if (!aspiInstalled || std::strcmp(fileName, "WNASPI32") != 0) return 0;
  ++libraryLoads;
  return kAspiModule;
}

platform::ProcAddress FakeMachine::GetProcAddress(platform::Module module, const char* procName) {
  if (module != kAspiModule) return {};
  if (hasSupportInfo && std::strcmp(procName, "GetASPI32SupportInfo") == 0) {
    return {&SupportInfo, this};
  }
  if (hasSendCommand && std::strcmp(procName, "SendASPI32Command") == 0) {
    return {&SendCommand, this};
  }
  return {};
}

bool FakeMachine::FreeLibrary(platform::Module module) {
  if (module != kAspiModule) return false;
  ++libraryReleases;
  return true;
}

int FakeMachine::MessageBoxA(const char* text, const char* caption, std::uint32_t type) {
  messageStyles.push_back(type);
  return sim::SimSystem::MessageBoxA(text, caption, type);
}

std::uint32_t FakeMachine::SupportInfo(void* context, void*) {
  const auto& machine = *static_cast<FakeMachine*>(context);
  return std::uint32_t{machine.supportStatus} << 8 | 1;  // one host adapter
}

std::uint32_t FakeMachine::SendCommand(void* context, void* argument) {
  auto& machine = *static_cast<FakeMachine*>(context);
  auto& header = *static_cast<platform::SrbHeader*>(argument);
  machine.aspiCommands.push_back(header.SRB_Cmd);
  switch (header.SRB_Cmd) {
    case platform::SC_HA_INQUIRY:
      static_cast<platform::SrbHaInquiry*>(argument)->HA_Count = 1;
      header.SRB_Status = platform::SS_COMP;
      break;
    case platform::SC_GET_DEV_TYPE: {
      auto& query = *static_cast<platform::SrbGetDeviceBlock*>(argument);
      const bool drive = query.SRB_HaId == 0 && query.SRB_Target == 2 && query.SRB_Lun == 3;
      query.SRB_DeviceType = platform::DTYPE_CDROM;
      header.SRB_Status = drive ? platform::SS_COMP : platform::SS_NO_DEVICE;
      break;
    }
    case platform::SC_EXEC_SCSI_CMD:
      machine.Execute(*static_cast<platform::SrbExecScsiCmd*>(argument));
      break;
    case platform::SC_ABORT_SRB:
      if (machine.pendingRequest != nullptr && machine.releasedOnAbort &&
          static_cast<platform::SrbAbort*>(argument)->SRB_ToAbort == machine.pendingRequest) {
        machine.ReleasePending();
      }
      header.SRB_Status = platform::SS_COMP;
      break;
    default:
      header.SRB_Status = platform::SS_COMP;
  }
  return 0;
}

void FakeMachine::Execute(platform::SrbExecScsiCmd& request) {
  aspiRequests.push_back(request);
  const Answer answer = NextAnswer(request.CDBByte);
  Sleep(answer.milliseconds);
  if (answer.pending) {
    pendingRequest = &request;
    releasedOnAbort = answer.releasedOnAbort;
    return;
  }
  WriteSense(request.SenseArea, answer);
  WriteReply(request.SRB_BufPointer, request.SRB_BufLen, answer);
  request.SRB_Status =
      answer.completes && answer.senseKey == 0 ? platform::SS_COMP : platform::SS_ERR;
  if (request.SRB_Flags & platform::SRB_EVENT_NOTIFY) {
    SetEvent(reinterpret_cast<platform::Handle>(request.SRB_PostProc));
  }
}

void FakeMachine::ReleasePending() {
  if (pendingRequest == nullptr) return;
  pendingRequest->SRB_Status = platform::SS_ABORTED;
  pendingRequest = nullptr;
}

}  // namespace devtest
