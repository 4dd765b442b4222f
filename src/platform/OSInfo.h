// Which family and version of the operating system runs, and the forced restart that ends an update
// run.
#pragma once

#include <cstdint>

namespace movrel::platform {

class System;

class OSInfo {
 public:
  // Queries the version once; the NT flag never changes afterwards.
  explicit OSInfo(System& system);

  bool IsNT() const { return isNT; }
  // The version's major number (4 for NT 4.0 and the consumer family, 5 for 2000 and XP, 6 for
  // Vista to 8.1, 10 after); 0 when the query failed.
  std::uint32_t MajorVersion() const { return majorVersion; }

  // Asks for a shutdown with the given flags, ExitFlags::Force always added. On NT the process
  // first enables its shutdown privilege. True when the request was accepted.
  bool ShutDownSystem(std::uint32_t flags);
  // ShutDownSystem(ExitFlags::Reboot): restart, closing running applications without asking.
  bool RestartSystem();

 private:
  System* system;
  bool isNT = false;
  std::uint32_t majorVersion = 0;
};

}  // namespace movrel::platform
