// A self-contained executable carries no client of the system manager (there is no static
// libsystemd): it runs where there is none, a rescue system, and finds neither service.
#include <cerrno>

#include "platform/linux/SystemManager.h"

namespace platform::systemmanager {

int Inhibit(const std::string&, const std::string&, const std::string&, const std::string&) {
  return -ENOSYS;
}

bool JournalPresent() {
  return false;
}

int JournalSend(const std::vector<std::string>&) {
  return ENOSYS;
}

}  // namespace platform::systemmanager
