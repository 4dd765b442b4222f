// A WNASPI32.DLL for tests, never shipped and no real ASPI layer: it answers the ASPI for Win32
// calls by turning each request block into IOCTL_SCSI_PASS_THROUGH_DIRECT on a CD-ROM drive, so
// that the consumer family's flasher (which reaches drives only through an ASPI manager) can reach
// a drive where the system has a pass-through, as Wine has on Linux.
//
// One host adapter, 0; target N is the N-th CD-ROM drive of the drive list, LUN 0. Each drive is
// opened on its first request and kept open, which is said on standard output: every open and
// close of a Linux optical drive makes the kernel send the drive commands of its own. A SCSI
// request is answered as an ASPI manager answers it: SendASPI32Command returns SS_PENDING at once,
// and a thread of the manager runs the request, writes its status last and then signals the
// request's event (SRB_EVENT_NOTIFY). A request with the kernel cannot be taken back: an abort is
// accepted and the request ends by itself.
#include <windows.h>
// After <windows.h>, whose types it uses.
#include <ntddscsi.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/WinTypes.h"

namespace {

constexpr int kMaxTargets = 8;
// The pass-through's own time-out: the request block carries none, and the caller aborts.
constexpr ULONG kTimeOutSeconds = 108000;
constexpr BYTE kInvalidRequest = 0xE0;  // SS_INVALID_SRB
constexpr BYTE kHostAdapterOk = 0x00;
constexpr BYTE kSelectionTimeOut = 0x11;  // HASTAT_SEL_TO: no answer from the drive
constexpr BYTE kCheckCondition = 0x02;

CRITICAL_SECTION lock;  // set up while the library is loaded; guards what follows
bool listed = false;
int targetCount = 0;
char letters[kMaxTargets] = {};    // each target's drive letter
HANDLE devices[kMaxTargets] = {};  // opened on first use, kept open

// Says on standard output that a target's device is open, so that a test sees that this manager
// answered.
void SayOpened(int target, const char* name) {
  char line[48];
  const int length =
      std::snprintf(line, sizeof line, "PASS-THROUGH ASPI: target %d is %s\n", target, name);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
}

// The number of targets: the CD-ROM drives of the drive list, in its order, read at the first
// call, as a manager finds its targets once when it starts.
int Targets() {
  EnterCriticalSection(&lock);
  if (!listed) {
    char list[26 * 4 + 1] = {};
    const DWORD length = GetLogicalDriveStringsA(sizeof list, list);
    for (const char* root = list; length != 0 && length < sizeof list && *root != '\0';
         root += std::strlen(root) + 1) {
      if (GetDriveTypeA(root) == DRIVE_CDROM && targetCount < kMaxTargets) {
        letters[targetCount++] = root[0];
      }
    }
    listed = true;
  }
  LeaveCriticalSection(&lock);
  return targetCount;
}

bool Present(int target, int lun) {
  return lun == 0 && target < Targets();
}

// The target's device, opened for reading and writing (the pass-through's code asks for both).
HANDLE DeviceOf(int target) {
  if (target >= Targets()) return INVALID_HANDLE_VALUE;
  EnterCriticalSection(&lock);
  if (devices[target] == nullptr) {
    char name[] = "\\\\.\\X:";
    name[4] = letters[target];
    const HANDLE device =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
      devices[target] = device;
      SayOpened(target, name);
    }
  }
  const HANDLE device = devices[target] != nullptr ? devices[target] : INVALID_HANDLE_VALUE;
  LeaveCriticalSection(&lock);
  return device;
}

// Runs the request on its drive: the adapter's and the drive's status, the sense data after a
// CHECK CONDITION; returns the request's status.
BYTE Execute(movrel::platform::SrbExecScsiCmd& srb) {
  const HANDLE device = DeviceOf(srb.SRB_Target);
  if (device == INVALID_HANDLE_VALUE) return movrel::platform::SS_NO_DEVICE;
  struct {
    SCSI_PASS_THROUGH_DIRECT sptd;
    UCHAR sense[32];
  } request{};
  request.sptd.Length = sizeof request.sptd;
  request.sptd.CdbLength = std::min<UCHAR>(srb.SRB_CDBLen, sizeof request.sptd.Cdb);
  request.sptd.SenseInfoLength = sizeof request.sense;
  request.sptd.DataIn = (srb.SRB_Flags & movrel::platform::SRB_DIR_IN) ? SCSI_IOCTL_DATA_IN
                        : (srb.SRB_Flags & movrel::platform::SRB_DIR_OUT)
                            ? SCSI_IOCTL_DATA_OUT
                            : SCSI_IOCTL_DATA_UNSPECIFIED;
  request.sptd.DataTransferLength = srb.SRB_BufLen;
  request.sptd.DataBuffer = srb.SRB_BufLen != 0 ? srb.SRB_BufPointer : nullptr;
  request.sptd.TimeOutValue = kTimeOutSeconds;
  request.sptd.SenseInfoOffset = offsetof(decltype(request), sense);
  std::memcpy(request.sptd.Cdb, srb.CDBByte, request.sptd.CdbLength);
  DWORD returned = 0;
  if (!DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request,
                       sizeof request, &returned, nullptr)) {
    srb.SRB_HaStat = kSelectionTimeOut;
    return movrel::platform::SS_ERR;
  }
  srb.SRB_HaStat = kHostAdapterOk;
  srb.SRB_TargStat = request.sptd.ScsiStatus;
  if (request.sptd.ScsiStatus == 0) return movrel::platform::SS_COMP;
  if (request.sptd.ScsiStatus == kCheckCondition) {
    const std::size_t length = std::min<std::size_t>(srb.SRB_SenseLen, sizeof srb.SenseArea);
    std::memcpy(srb.SenseArea, request.sense, std::min(length, sizeof request.sense));
  }
  return movrel::platform::SS_ERR;
}

// A request on its way: the block and the manager's own handle to the caller's event, so that
// the event can be signalled even when the caller, having seen the status, has closed its handle.
struct Pending {
  movrel::platform::SrbExecScsiCmd* srb;
  HANDLE event;
};

// The status goes in last, as the caller may read the block as soon as it is no longer pending;
// then the event.
void Complete(const Pending& request, BYTE status) {
  std::atomic_ref<std::uint8_t>(request.srb->SRB_Status).store(status, std::memory_order_release);
  if (request.event != nullptr) {
    SetEvent(request.event);
    CloseHandle(request.event);
  }
}

DWORD WINAPI RunRequest(void* pending) {
  const Pending request = *static_cast<Pending*>(pending);
  delete static_cast<Pending*>(pending);
  Complete(request, Execute(*request.srb));
  return 0;
}

BYTE SendRequest(movrel::platform::SrbExecScsiCmd& srb) {
  if (!Present(srb.SRB_Target, srb.SRB_Lun)) return srb.SRB_Status = movrel::platform::SS_NO_DEVICE;
  srb.SRB_Status = movrel::platform::SS_PENDING;
  const auto caller = static_cast<HANDLE>(srb.SRB_PostProc);
  const bool notify =
      (srb.SRB_Flags & movrel::platform::SRB_EVENT_NOTIFY) != 0 && caller != nullptr;
  const HANDLE process = GetCurrentProcess();
  HANDLE event = nullptr;
  if (!notify ||
      DuplicateHandle(process, caller, process, &event, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    auto* request = new Pending{&srb, event};
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, RunRequest, request, 0, &id);
    if (thread != nullptr) {
      CloseHandle(thread);
      return movrel::platform::SS_PENDING;
    }
    delete request;
    if (event != nullptr) CloseHandle(event);
  }
  // No thread, or no handle of the manager's own: the request runs in the caller's thread.
  Complete(Pending{&srb, nullptr}, Execute(srb));
  if (notify) SetEvent(caller);
  return srb.SRB_Status;
}

void AnswerInquiry(movrel::platform::SrbHaInquiry& inquiry) {
  inquiry.HA_Count = 1;
  inquiry.HA_SCSI_ID = 7;
  std::memcpy(inquiry.HA_ManagerId, "PASS-THROUGH    ", 16);
  std::memcpy(inquiry.HA_Identifier, "MOVREL TEST     ", 16);
  std::memset(inquiry.HA_Unique, 0, sizeof inquiry.HA_Unique);
  inquiry.HA_Unique[3] = kMaxTargets;
  inquiry.HA_Unique[6] = 0x01;  // the longest transfer, bytes 4 to 7 little-endian: 64 KiB
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* processEnds) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&lock);
  if (reason == DLL_PROCESS_DETACH && processEnds == nullptr) {
    for (HANDLE& device : devices) {
      if (device != nullptr) CloseHandle(device);
      device = nullptr;
    }
    DeleteCriticalSection(&lock);
  }
  return TRUE;
}

// The status in bits 8 to 15, the number of host adapters in bits 0 to 7.
extern "C" __declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo() {
  return (DWORD{movrel::platform::SS_COMP} << 8) | 1;
}

extern "C" __declspec(dllexport) DWORD __cdecl SendASPI32Command(void* block) {
  auto& header = *static_cast<movrel::platform::SrbHeader*>(block);
  if (header.SRB_HaId != 0) return header.SRB_Status = movrel::platform::SS_INVALID_HA;
  switch (header.SRB_Cmd) {
    case movrel::platform::SC_EXEC_SCSI_CMD:
      return SendRequest(*static_cast<movrel::platform::SrbExecScsiCmd*>(block));
    case movrel::platform::SC_HA_INQUIRY:
      AnswerInquiry(*static_cast<movrel::platform::SrbHaInquiry*>(block));
      return header.SRB_Status = movrel::platform::SS_COMP;
    case movrel::platform::SC_GET_DEV_TYPE: {
      auto& query = *static_cast<movrel::platform::SrbGetDeviceBlock*>(block);
      const bool present = Present(query.SRB_Target, query.SRB_Lun);
      query.SRB_DeviceType = present ? movrel::platform::DTYPE_CDROM : 0;
      return header.SRB_Status =
                 present ? movrel::platform::SS_COMP : movrel::platform::SS_NO_DEVICE;
    }
    case movrel::platform::SC_ABORT_SRB:
    case movrel::platform::SC_RESCAN_SCSI_BUS:
      return header.SRB_Status = movrel::platform::SS_COMP;
    default:
      return header.SRB_Status = kInvalidRequest;
  }
}
