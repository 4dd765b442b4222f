// The system manager's services behind the seam: the system kept awake by an inhibitor lock of
// the login manager, and the update record in the system journal.
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/ShownText.h"
#include "platform/linux/LastError.h"
#include "platform/linux/LinuxKernel.h"
#include "platform/linux/LinuxSystem.h"
#include "platform/linux/OpticalDrives.h"

namespace movrel::platform {

namespace {

constexpr char kInhibited[] = "shutdown:sleep:idle:handle-power-key:handle-suspend-key";
constexpr char kMode[] = "block";
// journalctl MESSAGE_ID=... finds every update record.
constexpr char kUpdateMessageId[] = "MESSAGE_ID=5f0c6d7e2a8b4c1d9e3f70a1b2c3d4e5";
constexpr int kPriorityError = 3;
constexpr int kPriorityInformation = 6;

}  // namespace

bool LinuxSystem::HoldSystemAwake(const char* reason) {
  std::unique_lock<std::mutex> hold(lock);
  if (inhibitor >= 0) return true;
  const int taken =
      kernel->Inhibit(kInhibited, kRecordSource, reason != nullptr ? reason : "", kMode);
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
  return true;
}

// Closing the descriptor lets go of the login manager's lock.
bool LinuxSystem::ReleaseSystemAwake() {
  std::unique_lock<std::mutex> hold(lock);
  const int released = std::exchange(inhibitor, -1);
  hold.unlock();
  if (released < 0) return false;
  kernel->Close(released);
  return true;
}

// --- The update record: the system journal --------------------------------------------------

bool LinuxSystem::RecordUpdates(const UpdateRecordFields* records, std::size_t count) {
  if (!kernel->JournalPresent()) return lasterror::Fail(ErrorCode::NotSupported);
  for (std::size_t j = 0; j < count; ++j) {
    const UpdateRecordFields& record = records[j];
    const auto number = optical::LetterNumber(record.driveLetter);
    const std::string device = number ? optical::NodeOf(*number) : "";
    std::vector<std::string> fields{
        // The drive's texts as the views show them; its own fields below keep the bytes.
        "MESSAGE=" + ShownText("Drive firmware update of " + device + " (" + record.vendor + " " +
                               record.product + ") from " + record.revisionBefore + " to " +
                               record.revisionAfter + ": " + UpdateResultText(record.succeeded)),
        kUpdateMessageId,
        "PRIORITY=" + std::to_string(record.succeeded ? kPriorityInformation : kPriorityError),
        std::string("SYSLOG_IDENTIFIER=") + kRecordSource};
    for (const UpdateRecordText& field : UpdateRecordTexts(record, device)) {
      fields.push_back(std::string(field.journalField) + "=" + field.text);
    }
    const int error = kernel->JournalSend(fields);
    if (error != 0) return lasterror::Fail(lasterror::FromErrno(error));
  }
  return true;
}

}  // namespace movrel::platform
