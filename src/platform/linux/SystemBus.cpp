// A client of the system bus just big enough for the one call the self-contained flasher makes:
// the login manager's Inhibit, whose reply carries a descriptor. It speaks the D-Bus wire
// protocol itself (there is no static libsystemd or libdbus): EXTERNAL authentication with the
// caller's uid, descriptors passed with SCM_RIGHTS, little-endian messages. Each wait on the bus
// is bounded, as sd-bus bounds a method call (25 s).
#include "platform/linux/SystemBus.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace movrel::platform::systemmanager {

namespace {

constexpr char kDefaultBus[] = "/run/dbus/system_bus_socket";
constexpr int kCallSeconds = 25;
constexpr std::uint8_t kMethodCall = 1, kMethodReturn = 2, kError = 3;
constexpr std::uint8_t kFieldPath = 1, kFieldInterface = 2, kFieldMember = 3, kFieldErrorName = 4,
                       kFieldReplySerial = 5, kFieldDestination = 6, kFieldSignature = 8,
                       kFieldUnixFds = 9;
// A message's size limit on every bus (128 MiB); a header field array of 64 MiB at most.
constexpr std::uint32_t kMaxMessage = 128u << 20;

// The system bus's socket: DBUS_SYSTEM_BUS_ADDRESS's first "unix:path=" address where the
// environment is the caller's own (never for a set-uid caller), else the well-known path.
std::string BusPath() {
  const char* address = ::secure_getenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (address == nullptr) return kDefaultBus;
  std::string first(address);
  first = first.substr(0, first.find(';'));
  const std::string prefix = "unix:path=";
  if (first.rfind(prefix, 0) != 0) return "";
  first = first.substr(prefix.size());
  return first.substr(0, first.find(','));
}

class Writer {
 public:
  std::string bytes;
  void Align(std::size_t to) { bytes.resize((bytes.size() + to - 1) / to * to, '\0'); }
  void Byte(std::uint8_t value) { bytes += static_cast<char>(value); }
  void Word(std::uint32_t value) {
    Align(4);
    for (int i = 0; i < 4; ++i) Byte(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  void String(const std::string& text) {  // 's' and 'o'
    Word(static_cast<std::uint32_t>(text.size()));
    bytes += text;
    Byte(0);
  }
  void Signature(const std::string& text) {  // 'g'
    Byte(static_cast<std::uint8_t>(text.size()));
    bytes += text;
    Byte(0);
  }
  void Field(std::uint8_t code, char type, const std::string& value) {
    Align(8);
    Byte(code);
    Signature(std::string(1, type));
    if (type == 'g') {
      Signature(value);
    } else {
      String(value);
    }
  }
};

struct Call {
  std::string path, interface, member, destination, signature;
  std::vector<std::string> arguments;  // strings only
};

std::string Marshal(const Call& call, std::uint32_t serial) {
  Writer body;
  for (const std::string& argument : call.arguments) body.String(argument);
  Writer message;
  message.Byte('l');
  message.Byte(kMethodCall);
  message.Byte(0);
  message.Byte(1);
  message.Word(static_cast<std::uint32_t>(body.bytes.size()));
  message.Word(serial);
  const std::size_t lengthAt = message.bytes.size();
  message.Word(0);
  message.Align(8);
  const std::size_t fieldsAt = message.bytes.size();
  message.Field(kFieldPath, 'o', call.path);
  message.Field(kFieldInterface, 's', call.interface);
  message.Field(kFieldMember, 's', call.member);
  message.Field(kFieldDestination, 's', call.destination);
  if (!call.signature.empty()) message.Field(kFieldSignature, 'g', call.signature);
  const auto length = static_cast<std::uint32_t>(message.bytes.size() - fieldsAt);
  for (int i = 0; i < 4; ++i) message.bytes[lengthAt + i] = static_cast<char>(length >> (8 * i));
  message.Align(8);
  return message.bytes + body.bytes;
}

// What a reply says of itself.
struct Reply {
  std::uint8_t type = 0;
  std::uint32_t replySerial = 0, unixFds = 0;
  std::string errorName;
};

class Reader {
 public:
  Reader(const std::string& bytes, std::size_t end) : bytes(bytes), end(end) {}
  bool Align(std::size_t to) {
    at = (at + to - 1) / to * to;
    return at <= end;
  }
  bool Byte(std::uint8_t& value) {
    if (at >= end) return false;
    value = static_cast<std::uint8_t>(bytes[at++]);
    return true;
  }
  bool Word(std::uint32_t& value) {
    if (!Align(4) || end - at < 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i)
      value |= std::uint32_t{static_cast<std::uint8_t>(bytes[at++])} << (8 * i);
    return true;
  }
  bool Text(std::uint32_t length, std::string& text) {
    if (end - at < std::size_t{length} + 1) return false;
    text = bytes.substr(at, length);
    at += length + 1;
    return true;
  }
  std::size_t At() const { return at; }

 private:
  const std::string& bytes;
  std::size_t end;
  std::size_t at = 16;  // the header fields' array follows the fixed part and its length
};

// The header fields that a reply's reader needs; false for a malformed header.
bool ParseFields(const std::string& message, std::uint32_t fieldsLength, Reply& reply) {
  Reader reader(message, 16 + std::size_t{fieldsLength});
  while (reader.Align(8) && reader.At() < 16 + std::size_t{fieldsLength}) {
    std::uint8_t code = 0, signatureLength = 0;
    std::string signature;
    if (!reader.Byte(code) || !reader.Byte(signatureLength) ||
        !reader.Text(signatureLength, signature) || signature.size() != 1) {
      return false;
    }
    std::uint32_t word = 0;
    std::string text;
    switch (signature[0]) {
      case 'y': {
        std::uint8_t byte = 0;
        if (!reader.Byte(byte)) return false;
        break;
      }
      case 'u':
        if (!reader.Word(word)) return false;
        break;
      case 's':
      case 'o':
        if (!reader.Word(word) || !reader.Text(word, text)) return false;
        break;
      case 'g': {
        std::uint8_t length = 0;
        if (!reader.Byte(length) || !reader.Text(length, text)) return false;
        break;
      }
      default:
        return false;  // no other type stands in a header field
    }
    if (code == kFieldReplySerial) reply.replySerial = word;
    if (code == kFieldUnixFds) reply.unixFds = word;
    if (code == kFieldErrorName) reply.errorName = text;
  }
  return true;
}

// sd-bus's error numbers for the names a login manager's refusal carries.
int ErrorNumberOf(const std::string& name) {
  if (name == "org.freedesktop.DBus.Error.AccessDenied" ||
      name == "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired") {
    return EACCES;
  }
  if (name == "org.freedesktop.DBus.Error.ServiceUnknown") return EHOSTUNREACH;
  if (name == "org.freedesktop.DBus.Error.NameHasNoOwner") return ENXIO;
  return EIO;
}

class Connection {
 public:
  ~Connection() {
    for (const int descriptor : received) ::close(descriptor);
    if (socket >= 0) ::close(socket);
  }

  int Open() {
    const std::string path = BusPath();
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) return -EINVAL;
    socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return -errno;
    const timeval bound{kCallSeconds, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      return -errno;
    }
    return Authenticate();
  }

  // The call's reply: 0 with the descriptors it carries taken by the caller, or the negated
  // error number.
  int CallWithDescriptor(const Call& call, int& descriptor) {
    const std::uint32_t serial = ++lastSerial;
    if (const int sent = Send(Marshal(call, serial)); sent != 0) return sent;
    for (;;) {
      Reply reply;
      std::size_t firstDescriptor = received.size();
      if (const int read = ReadMessage(reply); read != 0) return read;
      if (reply.replySerial != serial) continue;  // a signal, or the reply to Hello
      if (reply.type == kError) return -ErrorNumberOf(reply.errorName);
      if (reply.type != kMethodReturn || reply.unixFds < 1 || received.size() <= firstDescriptor) {
        return -EBADMSG;
      }
      descriptor = received[firstDescriptor];
      received.erase(received.begin() + static_cast<std::ptrdiff_t>(firstDescriptor));
      return 0;
    }
  }

  int Hello() {
    return Send(Marshal(
        {"/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello", "org.freedesktop.DBus", "", {}},
        ++lastSerial));
  }

 private:
  int Send(const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? -errno : -EPIPE;
      sent += static_cast<std::size_t>(n);
    }
    return 0;
  }

  // Exactly `count` more bytes into `into`, with every descriptor that comes along.
  int Receive(std::string& into, std::size_t count) {
    while (count > 0) {
      char chunk[4096];
      alignas(cmsghdr) char control[CMSG_SPACE(16 * sizeof(int))];
      iovec part{chunk, std::min(count, sizeof chunk)};
      msghdr message{};
      message.msg_iov = &part;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? -errno : -ECONNRESET;
      for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
           header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t descriptors = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < descriptors; ++i) {
          int descriptor = -1;
          std::memcpy(&descriptor, CMSG_DATA(header) + i * sizeof(int), sizeof descriptor);
          received.push_back(descriptor);
        }
      }
      into.append(chunk, static_cast<std::size_t>(n));
      count -= static_cast<std::size_t>(n);
    }
    return 0;
  }

  int ReadMessage(Reply& reply) {
    std::string message;
    if (const int read = Receive(message, 16); read != 0) return read;
    if (message[0] != 'l') return -EPROTONOSUPPORT;  // a big-endian peer
    std::uint32_t bodyLength = 0, fieldsLength = 0;
    std::memcpy(&bodyLength, message.data() + 4, 4);
    std::memcpy(&fieldsLength, message.data() + 12, 4);
    if (bodyLength > kMaxMessage || fieldsLength > kMaxMessage / 2) return -EBADMSG;
    const std::size_t headerEnd = (16 + std::size_t{fieldsLength} + 7) / 8 * 8;
    if (const int read = Receive(message, headerEnd - 16 + bodyLength); read != 0) return read;
    reply.type = static_cast<std::uint8_t>(message[1]);
    return ParseFields(message, fieldsLength, reply) ? 0 : -EBADMSG;
  }

  int SendLine(const std::string& line) { return Send(line + "\r\n"); }

  int ReadLine(std::string& line) {
    line.clear();
    while (line.size() < 512 && !line.ends_with("\r\n")) {
      std::string byte;
      if (const int read = Receive(byte, 1); read != 0) return read;
      line += byte;
    }
    return line.ends_with("\r\n") ? 0 : -EBADMSG;
  }

  int Authenticate() {
    std::string uid = std::to_string(::getuid()), hex;
    for (const char digit : uid) {
      static constexpr char kHex[] = "0123456789abcdef";
      hex += kHex[static_cast<unsigned char>(digit) >> 4];
      hex += kHex[static_cast<unsigned char>(digit) & 15];
    }
    std::string line;
    if (Send(std::string(1, '\0')) != 0 || SendLine("AUTH EXTERNAL " + hex) != 0 ||
        ReadLine(line) != 0 || !line.starts_with("OK ")) {
      return -EACCES;
    }
    if (SendLine("NEGOTIATE_UNIX_FD") != 0 || ReadLine(line) != 0 ||
        !line.starts_with("AGREE_UNIX_FD")) {
      return -EPROTONOSUPPORT;
    }
    return SendLine("BEGIN");
  }

  int socket = -1;
  std::uint32_t lastSerial = 0;
  std::vector<int> received;
};

}  // namespace

int BusInhibit(const std::string& what, const std::string& who, const std::string& why,
               const std::string& mode) {
  Connection bus;
  if (const int opened = bus.Open(); opened != 0) return opened;
  if (const int hello = bus.Hello(); hello != 0) return hello;
  int descriptor = -1;
  const int called = bus.CallWithDescriptor({"/org/freedesktop/login1",
                                             "org.freedesktop.login1.Manager",
                                             "Inhibit",
                                             "org.freedesktop.login1",
                                             "ssss",
                                             {what, who, why, mode}},
                                            descriptor);
  return called != 0 ? called : descriptor;
}

}  // namespace movrel::platform::systemmanager
