// A simulated machine with one optical drive, D:\ at port 1, path 0, target 2, LUN 3 (host
// adapter 0, target 2, LUN 3 for the ASPI manager), reached through the pass-through or an ASPI
// manager whose answers a test scripts. It keeps a copy of every request
// exactly as the device handed it over, so that tests can check request blocks byte for byte.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "QuietApplication.h"
#include "device/AtapiDevice.h"
#include "platform/Application.h"
#include "sim/SimSystem.h"

namespace devtest {

// How the drive answers one command.
struct Answer {
  bool completes = true;  // false: the pass-through call fails / the ASPI request ends in error
  std::uint8_t senseKey = 0, asc = 0, ascq = 0;
  std::uint32_t milliseconds = 0;  // how long the command takes
  bool pending = false;            // ASPI: the request stays pending
  bool releasedOnAbort = true;     // ASPI: an abort request ends a pending request
  std::vector<std::uint8_t> reply;
};

using test_support::QuietApplication;

class FakeMachine : public sim::SimSystem {
 public:
  explicit FakeMachine(sim::Family family = sim::Family::NT, bool aspiInstalled = false);

  // The answers to the next commands, in order; when none is left, the responder's answer to the
  // command block, or a good answer.
  std::deque<Answer> answers;
  std::function<Answer(const std::uint8_t* command)> responder;
  // The ASPI manager: whether it is installed, what GetASPI32SupportInfo reports, which entry
  // points exist.
  bool aspiInstalled;
  std::uint8_t supportStatus = platform::SS_COMP;
  bool hasSupportInfo = true;
  bool hasSendCommand = true;

  // What happened.
  std::vector<movrel::PassThroughRequest> passThroughRequests;
  std::vector<platform::Handle> passThroughHandles;
  std::vector<platform::SrbExecScsiCmd> aspiRequests;
  std::vector<std::uint8_t> aspiCommands;  // SRB_Cmd of every ASPI request, scans included
  bool driveOpens = true;                  // the drive's device can be opened
  int deviceOpens = 0;
  int deviceCloses = 0;
  int libraryLoads = 0;
  int libraryReleases = 0;
  std::vector<std::uint32_t> messageStyles;
  // The request left pending, until an abort or ReleasePending ends it.
  platform::SrbExecScsiCmd* pendingRequest = nullptr;

  void ClearRecords();
  void ReleasePending();

  std::uint32_t GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) override;
  std::uint32_t GetDriveTypeA(const char* rootPathName) override;
  platform::Handle CreateFileA(const char* fileName) override;
  bool DeviceIoControl(platform::Handle device, std::uint32_t ioControlCode, void* inBuffer,
                       std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                       std::uint32_t* bytesReturned) override;
  bool CloseHandle(platform::Handle handle) override;
  platform::Module LoadLibraryA(const char* fileName) override;
  platform::ProcAddress GetProcAddress(platform::Module module, const char* procName) override;
  bool FreeLibrary(platform::Module module) override;
  int MessageBoxA(const char* text, const char* caption, std::uint32_t type) override;

  static constexpr platform::Handle kDriveHandle = 0xD0;
  static constexpr platform::Module kAspiModule = 0xA5;

 private:
  Answer NextAnswer(const std::uint8_t* command);
  static std::uint32_t SupportInfo(void* context, void* argument);
  static std::uint32_t SendCommand(void* context, void* argument);
  void Execute(platform::SrbExecScsiCmd& request);

  bool releasedOnAbort = true;
};

}  // namespace devtest
