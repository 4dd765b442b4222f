// The desktop flasher's process entry, shared by every machine it runs on: the simulated one and
// the real ones differ only in the System they pass.
#pragma once

namespace platform {
class System;
}

namespace app {

class QtApplication;

// Builds the window on `system` with the package embedded in this executable and runs Qt's
// message loop (a QApplication must exist). Returns the exit status: 0, or 1 when an exception
// escaped (shown in a box).
int QtMain(platform::System& system, QtApplication& application);

}  // namespace app
