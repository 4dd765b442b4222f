// Shared ground of the window tests: a scripted application that records every message box and
// answers from a script, packages built in memory, and a bay of simulated drives.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Bays.h"
#include "movrel-pack/Args.h"
#include "package/PackageBlock.h"
#include "platform/Application.h"
#include "sim/Bay.h"

namespace movrel::app {
class TMovrelMain;
}  // namespace movrel::app

namespace movrel::test {

struct ShownMessage {
  std::string title;
  platform::MessageButtons buttons;
  std::string text;
};

class ScriptedApplication : public platform::Application {
 public:
  std::vector<ShownMessage> shown;
  std::deque<platform::MessageAnswer> answers;  // for Yes/No boxes; none left answers No
  std::function<void(const std::string&)> onMessage;
  std::function<void()> onProcessMessages;  // what the person does while messages go through
  bool personPresent = true;                // false: boxes that ask to act on the drive find nobody

  bool AskToAct(platform::MessageKind kind, const std::string& text) override {
    Application::AskToAct(kind, text);
    return personPresent;
  }

  platform::MessageAnswer ShowMessage(platform::MessageKind kind, platform::MessageButtons buttons,
                                      const std::string& text) override;
  void ShowPlainError(const std::string& text, const std::string& title) override;

 protected:
  void ProcessToolkitMessages() override {
    if (onProcessMessages) onProcessMessages();
  }
};

// Lets the run's workers go on and delivers their ends to the window's thread, as the message
// loop would, until the run is over (or a minute has passed).
void WaitForTheRun(app::TMovrelMain& form, platform::Application& application);

// A package block in memory: the template, filled like the packaging tool fills it; with a seal
// only once one is added.
struct Package {
  std::vector<unsigned char> block;
  std::vector<unsigned char> seal;
  package::PackageView View() const {
    return package::PackageView(block.data(), seal.empty() ? nullptr : seal.data());
  }
  void SetOption(package::layout::Option option, char value);
  // The template's seal, unsealed; then, when `sealed`, sealed over the block as it is now.
  void AddSeal(bool sealed);
};

// A simulated image whose identity record names the drive's new revision.
std::vector<unsigned char> SimImage(const std::string& revision, std::size_t size = 1048576);
// Bank 1: the 1 MiB image of RV0D for "Dornavex" "DVDRW KTR-207M" from RV01 to RV0D; REBOOT 0
// and WARNING 0 so that start-up asks nothing.
pack::PackRequest StandardRequest();
// Each bank's image is the simulated one of its new revision; the banks share the bank area.
Package MakePackage(const pack::PackRequest& request);
Package UnpackagedTemplate();

}  // namespace movrel::test
