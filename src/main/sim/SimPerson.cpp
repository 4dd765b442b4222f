#include "main/sim/SimPerson.h"

#include "app/WindowTexts.h"
#include "sim/SimSystem.h"

namespace movrel::main {

namespace texts = app::texts;

SimPerson::SimPerson(sim::SimSystem& system, std::vector<std::string> driveNames)
    : system(system), driveNames(std::move(driveNames)) {}

void SimPerson::Read(const std::string& text) {
  for (const auto& name : driveNames) {
    const sim::DriveState drive = system.Drive(name);
    if (drive.vanished) continue;
    if (text == texts::kRemoveDisc && drive.trayOpen && drive.medium) {
      system.TakeDiscOut(name);
    } else if (text == texts::kDiscLocked && drive.ejectLocked) {
      system.SetEjectLocked(name, false);  // the other program lets go of the disc
    } else if (text == texts::kPushTray && drive.trayOpen) {
      system.PushTrayIn(name);
    }
  }
}

}  // namespace movrel::main
