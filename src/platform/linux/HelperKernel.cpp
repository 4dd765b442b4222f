#include "platform/linux/HelperKernel.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/WinTypes.h"
#include "platform/linux/OpticalDrives.h"

namespace movrel::platform {

using drivehelper::Direction;
using drivehelper::DriveEntry;
using drivehelper::Kind;
using drivehelper::Reply;
using drivehelper::Request;

namespace {

// N of "/dev/srN" (up to 255).
std::optional<std::uint8_t> DriveNumber(const std::string& path) {
  const auto number = optical::NodeNumber(path, 255);
  if (!number) return std::nullopt;
  return static_cast<std::uint8_t>(*number);
}

// send(2) of all of `bytes`; MSG_NOSIGNAL, so that a helper that has gone is an error (EPIPE)
// rather than a SIGPIPE that ends the flasher.
bool SendAll(int socket, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t sent = ::send(socket, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    at += static_cast<std::size_t>(sent);
  }
  return true;
}

// read(2) of exactly `count` bytes; false at the end of the stream or an error.
bool ReceiveAll(int socket, std::uint8_t* bytes, std::size_t count) {
  for (std::size_t at = 0; at < count;) {
    const ssize_t read = ::read(socket, bytes + at, count - at);
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) return false;
    at += static_cast<std::size_t>(read);
  }
  return true;
}

Direction DirectionOf(const sg_io_hdr& request) {
  if (request.dxfer_len == 0) return Direction::None;
  if (request.dxfer_direction == SG_DXFER_TO_DEV) return Direction::ToDevice;
  if (request.dxfer_direction == SG_DXFER_FROM_DEV) return Direction::FromDevice;
  return Direction::None;
}

}  // namespace

HelperKernel::HelperKernel(std::unique_ptr<LinuxKernel> host, int socket,
                           std::function<void()> ended)
    : host(std::move(host)),
      socket(socket),
      ended(std::move(ended)),
      receiver([this] { Receive(); }) {}

HelperKernel::~HelperKernel() {
  ::shutdown(socket, SHUT_RDWR);  // the helper ends, and closes its drives and locks
  receiver.join();
  for (const auto& [descriptor, each] : held) ::close(descriptor);
  ::close(socket);
  if (ended) ended();
}

void HelperKernel::Receive() {
  std::array<std::uint8_t, drivehelper::kLengthBytes> prefix{};
  std::vector<std::uint8_t> body;
  for (;;) {
    std::optional<Reply> reply;
    if (ReceiveAll(socket, prefix.data(), prefix.size())) {
      const auto length = drivehelper::BodyLength(prefix, drivehelper::kLongestReply);
      body.resize(length.value_or(0));
      if (length && ReceiveAll(socket, body.data(), body.size())) {
        reply = drivehelper::ReadReply(body);
      }
    }
    std::lock_guard<std::mutex> hold(lock);
    if (!reply || replies.count(reply->tag) != 0) {
      gone = true;  // ended, or out of step: nothing it says can be trusted any more
      arrived.notify_all();
      return;
    }
    replies[reply->tag] = std::move(*reply);
    arrived.notify_all();
  }
}

std::optional<Reply> HelperKernel::Exchange(const Request& request) {
  Request tagged = request;
  {
    std::lock_guard<std::mutex> hold(lock);
    if (gone) return std::nullopt;
    tagged.tag = ++lastTag;
  }
  std::vector<std::uint8_t> bytes;
  drivehelper::WriteRequest(tagged, bytes);
  bool sent = false;
  {
    std::lock_guard<std::mutex> turn(sending);
    sent = SendAll(socket, bytes);
  }
  std::unique_lock<std::mutex> hold(lock);
  if (!sent) gone = true;
  arrived.wait(hold, [&] { return gone || replies.count(tagged.tag) != 0; });
  const auto found = replies.find(tagged.tag);
  if (found == replies.end()) return std::nullopt;
  Reply reply = std::move(found->second);
  replies.erase(found);
  if (reply.kind != request.kind) {
    gone = true;
    arrived.notify_all();
    return std::nullopt;
  }
  return reply;
}

bool HelperKernel::Answers() {
  return Exchange(Request{}).has_value();
}

std::vector<std::string> HelperKernel::OpticalDevices() {
  std::vector<std::string> paths;
  const auto reply = Exchange(Request{});
  if (!reply) return paths;
  std::lock_guard<std::mutex> hold(lock);
  listed.clear();
  for (const DriveEntry& entry : reply->drives) {
    listed[entry.drive] = entry;
    paths.push_back(optical::NodeOf(entry.drive));
  }
  return paths;
}

std::optional<DriveEntry> HelperKernel::Listed(std::uint8_t drive) {
  {
    std::lock_guard<std::mutex> hold(lock);
    if (const auto found = listed.find(drive); found != listed.end()) return found->second;
  }
  OpticalDevices();
  std::lock_guard<std::mutex> hold(lock);
  const auto found = listed.find(drive);
  if (found == listed.end()) return std::nullopt;
  return found->second;
}

int HelperKernel::Keep(std::uint8_t handle, const DriveEntry& entry) {
  const int descriptor = ::fcntl(socket, F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) {
    const int error = errno;
    Request close;
    close.kind = Kind::Close;
    close.handle = handle;
    Exchange(close);
    return -error;
  }
  std::lock_guard<std::mutex> hold(lock);
  held[descriptor] = Held{handle, entry};
  return descriptor;
}

std::optional<HelperKernel::Held> HelperKernel::Find(int descriptor) {
  std::lock_guard<std::mutex> hold(lock);
  const auto found = held.find(descriptor);
  if (found == held.end()) return std::nullopt;
  return found->second;
}

int HelperKernel::Open(const std::string& path, int flags) {
  const auto drive = DriveNumber(path);
  if (!drive) return host->Open(path, flags);
  const auto entry = Listed(*drive);
  if (!entry) return -ENOENT;
  Request request;
  request.kind = Kind::Open;
  request.drive = *drive;
  request.exclusive = (flags & O_EXCL) != 0;
  const auto reply = Exchange(request);
  if (!reply) return -EIO;
  if (reply->error != 0) return -static_cast<int>(reply->error);
  return Keep(reply->handle, *entry);
}

void HelperKernel::Close(int descriptor) {
  const auto found = Find(descriptor);
  if (!found) return host->Close(descriptor);
  Request request;
  request.kind = Kind::Close;
  request.handle = found->handle;
  Exchange(request);
  std::lock_guard<std::mutex> hold(lock);
  held.erase(descriptor);
  ::close(descriptor);
}

int HelperKernel::SgIo(int descriptor, sg_io_hdr& request) {
  const auto found = Find(descriptor);
  if (!found) return EBADF;
  if (request.cmd_len == 0 || request.cmd_len > drivehelper::kLongestCommand ||
      request.dxfer_len > drivehelper::kLongestData) {
    return EINVAL;
  }
  Request sent;
  sent.kind = Kind::SgIo;
  sent.handle = found->handle;
  sent.direction = DirectionOf(request);
  sent.commandLength = request.cmd_len;
  std::copy_n(request.cmdp, request.cmd_len, sent.command.begin());
  sent.timeoutMilliseconds =
      std::clamp<std::uint32_t>(request.timeout, 1, drivehelper::kLongestTimeout);
  sent.dataLength = sent.direction == Direction::None ? 0 : request.dxfer_len;
  const auto* data = static_cast<const std::uint8_t*>(request.dxferp);
  if (sent.direction == Direction::ToDevice) sent.data.assign(data, data + sent.dataLength);
  const auto reply = Exchange(sent);
  if (!reply) return EIO;
  if (reply->error != 0) return static_cast<int>(reply->error);
  request.status = reply->status;
  request.masked_status = reply->status >> 1;
  request.host_status = reply->hostStatus;
  request.driver_status = reply->driverStatus;
  request.resid = reply->residue;
  const std::size_t sense = std::min<std::size_t>(reply->sense.size(), request.mx_sb_len);
  if (sense != 0) std::memcpy(request.sbp, reply->sense.data(), sense);
  request.sb_len_wr = static_cast<unsigned char>(sense);
  if (sent.direction == Direction::FromDevice && !reply->data.empty()) {
    std::memcpy(request.dxferp, reply->data.data(),
                std::min<std::size_t>(reply->data.size(), request.dxfer_len));
  }
  return 0;
}

int HelperKernel::GetIdLun(int descriptor, std::uint32_t& idLun) {
  const auto found = Find(descriptor);
  if (!found) return EBADF;
  const DriveEntry& entry = found->entry;
  idLun = std::uint32_t{entry.id} | std::uint32_t{entry.lun} << 8 |
          std::uint32_t{entry.channel} << 16 | std::uint32_t{entry.host} << 24;
  return 0;
}

int HelperKernel::GetBusNumber(int descriptor, int& host) {
  const auto found = Find(descriptor);
  if (!found) return EBADF;
  host = found->entry.host;
  return 0;
}

int HelperKernel::LockDrive(const ScsiAddress& address, int& descriptor) {
  OpticalDevices();
  std::optional<DriveEntry> entry;
  {
    std::lock_guard<std::mutex> hold(lock);
    for (const auto& [drive, each] : listed) {
      if (each.host == address.PortNumber && each.channel == address.PathId &&
          each.id == address.TargetId && each.lun == address.Lun) {
        entry = each;
      }
    }
  }
  if (!entry) return ENODEV;
  Request request;
  request.kind = Kind::Lock;
  request.drive = entry->drive;
  const auto reply = Exchange(request);
  if (!reply) return EIO;
  if (reply->error != 0) return static_cast<int>(reply->error);
  const int kept = Keep(reply->handle, *entry);
  if (kept < 0) return -kept;
  descriptor = kept;
  return 0;
}

bool HelperKernel::MayReboot() {
  return host->MayReboot() || host->SystemdBooted();
}

// --- The host's own -------------------------------------------------------------------------

int HelperKernel::ReadLink(const std::string& path, std::string& target) {
  return host->ReadLink(path, target);
}
int HelperKernel::MakeDirectory(const std::string& path, unsigned mode) {
  return host->MakeDirectory(path, mode);
}
int HelperKernel::Status(const std::string& path, unsigned& owner, unsigned& mode) {
  return host->Status(path, owner, mode);
}
int HelperKernel::Flock(int descriptor, int operation) {
  return host->Flock(descriptor, operation);
}
bool HelperKernel::Mounted(const std::string& path) {
  return host->Mounted(path);
}
int HelperKernel::DescriptorStatus(int descriptor, unsigned& mode, std::uint64_t& device) {
  return host->DescriptorStatus(descriptor, mode, device);
}
int HelperKernel::ReadAttribute(const std::string& path, std::string& text) {
  return host->ReadAttribute(path, text);
}
std::string HelperKernel::PowerSupplyClass() {
  return host->PowerSupplyClass();
}
int HelperKernel::Run(const std::vector<std::string>& command) {
  return host->Run(command);
}
bool HelperKernel::SystemdBooted() {
  return host->SystemdBooted();
}
int HelperKernel::Inhibit(const std::string& what, const std::string& who, const std::string& why,
                          const std::string& mode) {
  return host->Inhibit(what, who, why, mode);
}
bool HelperKernel::JournalPresent() {
  return host->JournalPresent();
}
int HelperKernel::JournalSend(const std::vector<std::string>& fields) {
  return host->JournalSend(fields);
}

}  // namespace movrel::platform
