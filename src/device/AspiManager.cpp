// The ASPI manager library: loading it with its messages, probing it silently, releasing it.
#include <cstdint>

#include "device/AtapiDevice.h"
#include "platform/System.h"

namespace movrel::device {

namespace {
constexpr char kLibraryName[] = "WNASPI32";
constexpr char kSupportInfoName[] = "GetASPI32SupportInfo";
constexpr char kSendCommandName[] = "SendASPI32Command";
constexpr char kSupportInfoCaption[] = "GetASPISupportInfo:";

// The ASPI status: bits 8 to 15 of the support information.
std::uint8_t SupportStatus(const platform::ProcAddress& getSupportInfo) {
  return static_cast<std::uint8_t>(getSupportInfo() >> 8);
}

const char* SupportStatusText(std::uint8_t status) {
  switch (status) {
    case platform::SS_NO_ASPI:
      return "Could not find the ASPI manager.";
    case platform::SS_ILLEGAL_MODE:
      return "ASPI for Windows does not support real mode.";
    case platform::SS_OLD_MANAGER:
      return "Old ASPI manager.";
    default:
      return "Error initializing ASPI.";
  }
}
}  // namespace

bool AtapiDevice::LoadAspi() {
  constexpr std::uint32_t kStyle =
      platform::MessageBoxStyle::Ok | platform::MessageBoxStyle::IconError;
  aspiLibrary = system.LoadLibraryA(kLibraryName);
  if (aspiLibrary == 0) {
    system.MessageBoxA("LoadLibrary:\nWNASPI32.DLL not found.", "Error FS 002", kStyle);
    return false;
  }
  getAspiSupportInfo = system.GetProcAddress(aspiLibrary, kSupportInfoName);
  if (!getAspiSupportInfo) {
    UnloadAspi();
    system.MessageBoxA("GetProcAddress:\nGetASPI32SupportInfo not fount.", "Error FS 003", kStyle);
    return false;
  }
  sendAspiCommand = system.GetProcAddress(aspiLibrary, kSendCommandName);
  if (!sendAspiCommand) {
    UnloadAspi();
    system.MessageBoxA("GetProcAddress:\npfnSendASPI32Command not found.", "Error FS 004", kStyle);
    return false;
  }
  const std::uint8_t status = SupportStatus(getAspiSupportInfo);
  if (status == platform::SS_COMP) return true;
  system.MessageBoxA(SupportStatusText(status), kSupportInfoCaption, kStyle);
  UnloadAspi();
  return false;
}

bool AtapiDevice::AspiAvailable() {
  const platform::Module library = system.LoadLibraryA(kLibraryName);
  if (library == 0) return false;
  const platform::ProcAddress getSupportInfo = system.GetProcAddress(library, kSupportInfoName);
  const platform::ProcAddress sendCommand = system.GetProcAddress(library, kSendCommandName);
  const bool available =
      getSupportInfo && sendCommand && SupportStatus(getSupportInfo) == platform::SS_COMP;
  system.FreeLibrary(library);
  return available;
}

void AtapiDevice::UnloadAspi() {
  if (aspiLibrary != 0) system.FreeLibrary(aspiLibrary);
  aspiLibrary = 0;
  getAspiSupportInfo = {};
  sendAspiCommand = {};
}

}  // namespace movrel::device
