// The terminal flasher's process entry, shared by every machine it runs on: the simulated one and
// the real ones differ only in the System they pass.
#pragma once

#include <functional>

namespace movrel::platform {
class System;
}

namespace movrel::ui {

class ConsoleView;

// Runs the window on `system` with the package embedded in this executable, in a terminal view
// on the process's standard input and output; `bind` sees the view before the window is built.
// Returns the view's exit status, or 1 when an exception escaped (shown as an error line).
int ConsoleMain(platform::System& system, const std::function<void(ConsoleView&)>& bind = {});

}  // namespace movrel::ui
