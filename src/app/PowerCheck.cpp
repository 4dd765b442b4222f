// The power check before a run: a machine whose battery runs out in the middle of the programming
// command leaves the drive without working firmware. Only a system that says it runs on battery
// stops the run; on the adapter, with no battery, or when the system cannot tell, the run goes on.
#include "app/MovrelMain.h"
#include "platform/Application.h"
#include "platform/System.h"

namespace movrel::app {

bool TMovrelMain::PowerAllowsRun() {
  if (system.GetPowerSource() != platform::System::PowerSource::Battery) return true;
  application.ShowMessage(platform::MessageKind::Error, platform::MessageButtons::Ok,
                          texts::kOnBattery);
  EndProgram(Ending::BeforeUpdate);
  return false;
}

}  // namespace movrel::app
