// The system manager's services behind the seam: the system kept awake by an inhibitor lock of
// the login manager, and the event log as the system journal.
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/ShownText.h"
#include "platform/linux/LastError.h"
#include "platform/linux/LinuxKernel.h"
#include "platform/linux/LinuxSystem.h"

namespace movrel::platform {

namespace {

constexpr char kInhibited[] = "shutdown:sleep:idle:handle-power-key:handle-suspend-key";
constexpr char kWhy[] = "Drive firmware update in progress";
constexpr char kMode[] = "block";
// journalctl MESSAGE_ID=... finds every update record.
constexpr char kUpdateMessageId[] = "MESSAGE_ID=5f0c6d7e2a8b4c1d9e3f70a1b2c3d4e5";
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr int kPriorityError = 3;
constexpr int kPriorityInformation = 6;

// The journal's field of each insertion string of an update record.
constexpr const char* kUpdateFields[UpdateRecord::StringCount] = {
    "MOVREL_DEVICE",          "MOVREL_VENDOR",         "MOVREL_PRODUCT",
    "MOVREL_REVISION_BEFORE", "MOVREL_REVISION_AFTER", "MOVREL_BANK",
    "MOVREL_IMAGE_SHA256",    "MOVREL_RESULT",         "MOVREL_SENSE"};

// The node of a device name the program opens ("\\.\E:" is /dev/sr1); other texts as they are.
std::string NodeOf(const std::string& name) {
  const std::size_t prefix = sizeof kDevicePrefix - 1;
  if (name.size() != prefix + 2 || name.compare(0, prefix, kDevicePrefix) != 0 ||
      name[prefix + 1] != ':' || name[prefix] < 'D' || name[prefix] > 'Z') {
    return name;
  }
  return "/dev/sr" + std::to_string(name[prefix] - 'D');
}

}  // namespace

// Continuous | SystemRequired takes the login manager's lock, Continuous alone lets it go.
std::uint32_t LinuxSystem::SetThreadExecutionState(std::uint32_t esFlags) {
  if ((esFlags & ExecutionState::Continuous) == 0) return lasterror::Fail(ErrorCode::NotSupported);
  std::unique_lock<std::mutex> hold(lock);
  const std::uint32_t previous = executionState;
  if ((esFlags & ExecutionState::SystemRequired) == 0) {
    const int released = std::exchange(inhibitor, -1);
    executionState = esFlags;
    hold.unlock();
    if (released >= 0) kernel->Close(released);
    return previous;
  }
  if (inhibitor < 0) {
    const int taken = kernel->Inhibit(kInhibited, UpdateRecord::SourceName, kWhy, kMode);
    if (taken < 0) {
      hold.unlock();
      // polkit's refusal reaches sd-bus as an access error; anything else means nobody answered.
      const bool refused = taken == -EACCES || taken == -EPERM;
      Notice(toldNotAwake, "",
             std::string(refused ? "the login manager refused the inhibitor lock (not authorised)"
                                 : "no login manager") +
                 ": the system is not kept from sleeping or shutting down during the update");
      return lasterror::Fail(ErrorCode::NotSupported);
    }
    inhibitor = taken;
  }
  executionState = esFlags;
  return previous;
}

// --- The event log: the system journal ------------------------------------------------------

Handle LinuxSystem::RegisterEventSourceA(const char*, const char* sourceName) {
  if (sourceName == nullptr || !kernel->JournalPresent()) {
    lasterror::Set(ErrorCode::NotSupported);
    return 0;
  }
  std::lock_guard<std::mutex> hold(lock);
  const Handle handle = NewHandle();
  eventSources[handle] = sourceName;
  return handle;
}

bool LinuxSystem::ReportEventA(Handle eventLog, std::uint16_t type, std::uint16_t,
                               std::uint32_t eventId, std::uint16_t numStrings,
                               const char* const* strings) {
  std::string source;
  {
    std::lock_guard<std::mutex> hold(lock);
    const auto found = eventSources.find(eventLog);
    if (found == eventSources.end()) return lasterror::Fail(ErrorCode::InvalidHandle);
    source = found->second;
  }
  if (eventId != UpdateRecord::EventId || numStrings != UpdateRecord::StringCount ||
      strings == nullptr) {
    return lasterror::Fail(ErrorCode::InvalidParameter);
  }
  std::string values[UpdateRecord::StringCount];
  for (int i = 0; i < UpdateRecord::StringCount; ++i) values[i] = strings[i] ? strings[i] : "";
  values[UpdateRecord::Device] = NodeOf(values[UpdateRecord::Device]);
  const bool failed = type == EventType::Error;
  std::vector<std::string> fields{
      // The drive's texts as the views show them; its own fields below keep the bytes.
      "MESSAGE=" +
          ShownText("Drive firmware update of " + values[UpdateRecord::Device] + " (" +
                    values[UpdateRecord::Vendor] + " " + values[UpdateRecord::Product] + ") from " +
                    values[UpdateRecord::RevisionBefore] + " to " +
                    values[UpdateRecord::RevisionAfter] + ": " + values[UpdateRecord::Result]),
      kUpdateMessageId,
      "PRIORITY=" + std::to_string(failed ? kPriorityError : kPriorityInformation),
      "SYSLOG_IDENTIFIER=" + source};
  for (int i = 0; i < UpdateRecord::StringCount; ++i) {
    fields.push_back(std::string(kUpdateFields[i]) + "=" + values[i]);
  }
  const int error = kernel->JournalSend(fields);
  if (error != 0) return lasterror::Fail(lasterror::FromErrno(error));
  return true;
}

bool LinuxSystem::DeregisterEventSource(Handle eventLog) {
  std::lock_guard<std::mutex> hold(lock);
  if (eventSources.erase(eventLog) != 0) return true;
  return lasterror::Fail(ErrorCode::InvalidHandle);
}

}  // namespace movrel::platform
