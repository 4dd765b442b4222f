// The system manager's services for a self-contained executable, which carries no libsystemd
// (there is no static one): the login manager's inhibitor through the program's own client of
// the system bus, and the journal through its native protocol, one datagram a record, as
// systemd.journal-fields(7) and the journal's native protocol describe it. Where neither runs (a
// rescue system), both are simply absent.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/SystemBus.h"
#include "platform/linux/SystemManager.h"

namespace movrel::platform::systemmanager {

namespace {
constexpr char kJournalSocket[] = "/run/systemd/journal/socket";

// A field "NAME=value" as the journal reads it: as it is, with a line feed, unless the value
// holds a line feed itself; then the name, a line feed, the value's length as 64 bits
// little-endian, the value and a line feed.
void AppendField(std::string& datagram, const std::string& field) {
  const std::size_t equals = field.find('=');
  const std::string value = equals == std::string::npos ? "" : field.substr(equals + 1);
  if (value.find('\n') == std::string::npos) {
    datagram += field + '\n';
    return;
  }
  datagram += field.substr(0, equals) + '\n';
  std::uint64_t length = value.size();
  for (int i = 0; i < 8; ++i, length >>= 8) datagram += static_cast<char>(length & 0xFF);
  datagram += value + '\n';
}
}  // namespace

int Inhibit(const std::string& what, const std::string& who, const std::string& why,
            const std::string& mode) {
  return BusInhibit(what, who, why, mode);
}

bool JournalPresent() {
  return ::access(kJournalSocket, W_OK) == 0;
}

// 0 when the journal took the record or is not there (the record is dropped, as sd-journal
// drops it); the error number otherwise.
int JournalSend(const std::vector<std::string>& fields) {
  std::string datagram;
  for (const std::string& field : fields) AppendField(datagram, field);
  const int journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (journal < 0) return errno;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string(kJournalSocket).copy(address.sun_path, sizeof address.sun_path - 1);
  const ssize_t sent = ::sendto(journal, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = sent < 0 ? errno : 0;
  ::close(journal);
  return error == ENOENT ? 0 : error;
}

}  // namespace movrel::platform::systemmanager
