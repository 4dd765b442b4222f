// The desktop flasher's process entry, shared by every machine it runs on: the simulated one and
// the real ones differ only in the System they pass.
#pragma once

namespace movrel::platform {
class System;
}

namespace movrel::ui {

class QtApplication;

// Builds the window on `system` with the package embedded in this executable and runs Qt's
// message loop (a QApplication must exist). Returns the exit status: the program's (0 after a
// normal end, 1 after a failed update, 2 when it ended before any update), or 1 when an exception
// escaped (shown in a box).
int QtMain(platform::System& system, QtApplication& application);

// Makes Qt's fatal messages (no display to connect to, no platform plugin) end the process with
// status 1 once Qt has printed them, instead of Qt's abort. Called before the QApplication is made.
void EndOnFatalQtMessage();

}  // namespace movrel::ui
