// The machine's drive list, its device handles with their control requests (SCSI address and
// pass-through), and the ASPI manager library.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/PassThrough.h"
#include "sim/DriveBay.h"
#include "sim/SimAspiManager.h"
#include "sim/SimSystem.h"

namespace movrel::sim {

using namespace platform;

namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";

char Letter(const std::string& root) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(root.empty() ? 0 : root[0])));
}

bool SameRoot(const std::string& root, const char* other) {
  return other != nullptr && root.size() == std::strlen(other) && !root.empty() &&
         Letter(root) == std::toupper(static_cast<unsigned char>(other[0])) &&
         root.compare(1, std::string::npos, other + 1) == 0;
}

// "WNASPI32", with or without ".DLL", in any case.
bool IsAspiManager(const char* fileName) {
  if (fileName == nullptr) return false;
  std::string name(fileName);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return name == "WNASPI32" || name == "WNASPI32.DLL";
}

}  // namespace

bool SimSystem::Failed(std::uint32_t error) {
  platform::Hold hold(lock);
  lastError = error;
  return false;
}

// --- The drive list -------------------------------------------------------------------------

std::uint32_t SimSystem::GetLogicalDriveStringsA(std::uint32_t bufferLength, char* buffer) {
  if (CallFails("GetLogicalDriveStringsA")) return 0;
  std::vector<std::string> roots;
  for (const RootConfig& other : otherRoots) roots.push_back(other.root);
  for (std::size_t drive = 0; drive < bay->Count(); ++drive) {
    if (bay->Config(drive).root) roots.push_back(*bay->Config(drive).root);
  }
  std::stable_sort(roots.begin(), roots.end(), [](const std::string& a, const std::string& b) {
    return Letter(a) < Letter(b);
  });
  std::string list;
  for (const std::string& root : roots) list.append(root).push_back('\0');
  const auto needed = static_cast<std::uint32_t>(list.size() + 1);  // and the closing empty string
  if (buffer == nullptr || bufferLength < needed) return needed;
  std::memcpy(buffer, list.data(), list.size());
  buffer[list.size()] = '\0';
  return needed - 1;
}

std::uint32_t SimSystem::GetDriveTypeA(const char* rootPathName) {
  for (std::size_t drive = 0; drive < bay->Count(); ++drive) {
    const auto& root = bay->Config(drive).root;
    if (root && SameRoot(*root, rootPathName)) return DriveType::CdRom;
  }
  for (const RootConfig& other : otherRoots) {
    if (SameRoot(other.root, rootPathName)) return other.driveType;
  }
  return DriveType::NoRootDir;
}

// --- Devices --------------------------------------------------------------------------------

Handle SimSystem::CreateFileA(const char* fileName) {
  const std::size_t prefix = sizeof(kDevicePrefix) - 1;
  // The consumer family has no pass-through: its devices cannot be opened this way.
  const bool deviceName = fileName != nullptr &&
                          std::strncmp(fileName, kDevicePrefix, prefix) == 0 &&
                          std::strlen(fileName) == prefix + 2 && fileName[prefix + 1] == ':';
  const auto drive = deviceName ? bay->FindByLetter(fileName[prefix]) : std::nullopt;
  if (!drive || GetFamily() != Family::NT || bay->Vanished(*drive) || CallFails("CreateFileA")) {
    Failed(platform::ErrorCode::FileNotFound);
    return InvalidHandleValue;
  }
  if (bay->Config(*drive).addressQuery == AddressQuery::Unopenable) {
    Failed(platform::ErrorCode::AccessDenied);
    return InvalidHandleValue;
  }
  platform::Hold hold(lock);
  if (volumeLocks.count(*drive) != 0) {
    lastError = platform::ErrorCode::AccessDenied;
    return InvalidHandleValue;
  }
  const Handle handle = NewHandle();
  devices[handle] = *drive;
  lastError = ErrorCode::Success;
  return handle;
}

bool SimSystem::DeviceDrive(Handle device, std::size_t& drive) {
  platform::Hold hold(lock);
  const auto found = devices.find(device);
  if (found == devices.end()) {
    lastError = platform::ErrorCode::InvalidHandle;
    return false;
  }
  drive = found->second;
  return true;
}

bool SimSystem::DeviceIoControl(Handle device, std::uint32_t ioControlCode, void* inBuffer,
                                std::uint32_t inBufferSize, void* outBuffer,
                                std::uint32_t outBufferSize, std::uint32_t* bytesReturned) {
  if (bytesReturned) *bytesReturned = 0;
  std::size_t drive = 0;
  if (!DeviceDrive(device, drive)) return false;
  switch (ioControlCode) {
    case ioctl::ScsiGetAddress:
      return QueryAddress(drive, outBuffer, outBufferSize, bytesReturned);
    case ioctl::ScsiPassThroughDirect:
      return PassThrough(drive, inBuffer, inBufferSize, outBuffer, outBufferSize, bytesReturned);
    case ioctl::FsctlLockVolume:
      return LockVolume(device, drive);
    case ioctl::FsctlUnlockVolume:
      return UnlockVolume(device, drive);
    case ioctl::CdromExclusiveAccess:
      return ExclusiveAccess(device, drive, inBuffer, inBufferSize);
    default:  // the storage descriptor query among them
      return Failed(platform::ErrorCode::InvalidFunction);
  }
}

bool SimSystem::QueryAddress(std::size_t drive, void* outBuffer, std::uint32_t outBufferSize,
                             std::uint32_t* bytesReturned) {
  if (outBuffer == nullptr || outBufferSize < sizeof(ScsiAddress)) {
    return Failed(platform::ErrorCode::InsufficientBuffer);
  }
  if (bay->Vanished(drive)) return Failed(platform::ErrorCode::DeviceGone);
  const DriveConfig& config = bay->Config(drive);
  if (config.addressQuery == AddressQuery::Refused)
    return Failed(platform::ErrorCode::InvalidFunction);
  ScsiAddress address{};
  if (config.addressQuery == AddressQuery::Ok) {
    address.Length = sizeof(ScsiAddress);
    address.PortNumber = static_cast<std::uint8_t>(config.address[0]);
    address.PathId = static_cast<std::uint8_t>(config.address[1]);
    address.TargetId = static_cast<std::uint8_t>(config.address[2]);
    address.Lun = static_cast<std::uint8_t>(config.address[3]);
  }
  std::memcpy(outBuffer, &address, sizeof address);
  if (bytesReturned) *bytesReturned = sizeof address;
  return true;
}

bool SimSystem::PassThrough(std::size_t drive, void* inBuffer, std::uint32_t inBufferSize,
                            void* outBuffer, std::uint32_t outBufferSize,
                            std::uint32_t* bytesReturned) {
  ScsiExchange exchange;
  if (outBuffer == nullptr || !ReadPassThrough(inBuffer, inBufferSize, outBufferSize, exchange)) {
    return Failed(platform::ErrorCode::InvalidParameter);
  }
  // The drive's commands are all 12 bytes long; a shorter block leaves the rest 0.
  CommandBytes command{};
  std::memcpy(command.data(), exchange.cdb.data(), command.size());
  const Transfer direction = exchange.direction == ScsiDataDirection::In    ? Transfer::In
                             : exchange.direction == ScsiDataDirection::Out ? Transfer::Out
                                                                            : Transfer::None;
  const DataPhase data{direction, exchange.data, exchange.dataLength, exchange.timeoutSeconds};
  const Answer answer = bay->Execute(drive, command, data, clock.NowNanoseconds());
  // A late answer comes after the request's time-out has passed.
  if (answer.late) clock.Advance((std::int64_t{exchange.timeoutSeconds} + 1) * 1'000'000'000);
  if (answer.status == Answer::Status::Failed) return Failed(platform::ErrorCode::IoDevice);

  ScsiOutcome outcome;
  outcome.transferred = answer.transferred;
  std::vector<std::uint8_t> sense;
  if (answer.status == Answer::Status::CheckCondition) {
    outcome.status = ScsiStatus::CheckCondition;
    sense = SenseBytes(answer);
    outcome.sense = sense;
  }
  if (!CompletePassThrough(exchange, outcome, outBuffer))
    return Failed(platform::ErrorCode::IoDevice);
  if (bytesReturned) *bytesReturned = kPassThroughReplyLength;
  return true;
}

// --- The ASPI manager library -----------------------------------------------------------------

Module SimSystem::LoadLibraryA(const char* fileName) {
  const Module module = IsAspiManager(fileName) ? aspi->Load() : 0;
  if (module == 0) Failed(platform::ErrorCode::ModuleNotFound);
  return module;
}

// An entry point named in FailCall is missing from the library.
ProcAddress SimSystem::GetProcAddress(Module module, const char* procName) {
  if (procName != nullptr && CallFails(procName)) return {};
  return aspi->Resolve(module, procName);
}

bool SimSystem::FreeLibrary(Module module) {
  if (aspi->Free(module)) return true;
  return Failed(platform::ErrorCode::InvalidHandle);
}

}  // namespace movrel::sim
