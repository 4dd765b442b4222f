// The Windows flasher's process entry, apart from the machine it runs on: the real machine and a
// test's simulated one differ only in the System they pass.
#pragma once

namespace movrel::platform {
class System;
}

namespace movrel::ui {

class Win32Application;

// Builds the window on `system` with the package embedded in this executable and runs the message
// loop. Returns the exit status: 0, or 1 when an exception escaped or a window procedure caught
// one (shown in an error box).
int Win32Main(platform::System& system, Win32Application& application);

}  // namespace movrel::ui
