// The login manager and the journal through libsystemd: sd-bus on the system bus (which
// DBUS_SYSTEM_BUS_ADDRESS may name), and sd-journal.
#include <fcntl.h>
#include <sys/uio.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/SystemManager.h"

namespace movrel::platform::systemmanager {

namespace {
constexpr char kJournalSocket[] = "/run/systemd/journal/socket";
}

int Inhibit(const std::string& what, const std::string& who, const std::string& why,
            const std::string& mode) {
  sd_bus* bus = nullptr;
  int result = sd_bus_open_system(&bus);
  if (result < 0) return result;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  result = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                              "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                              what.c_str(), who.c_str(), why.c_str(), mode.c_str());
  if (result >= 0) {
    int descriptor = -1;
    result = sd_bus_message_read(reply, "h", &descriptor);
    // The reply owns its descriptor: the lock is kept through a copy of it.
    if (result >= 0) {
      result = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
      if (result < 0) result = -errno;
    }
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return result;
}

bool JournalPresent() {
  return ::access(kJournalSocket, W_OK) == 0;
}

int JournalSend(const std::vector<std::string>& fields) {
  std::vector<iovec> parts;
  for (const std::string& field : fields) {
    parts.push_back({const_cast<char*>(field.data()), field.size()});
  }
  const int result = sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
  return result < 0 ? -result : 0;
}

}  // namespace movrel::platform::systemmanager
