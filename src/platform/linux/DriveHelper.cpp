#include "platform/linux/DriveHelper.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/linux/DriveLockFile.h"
#include "platform/linux/LinuxKernel.h"
#include "platform/linux/OpticalDrives.h"

namespace movrel::platform {

using drivehelper::Direction;
using drivehelper::Kind;
using drivehelper::Reply;
using drivehelper::Request;

namespace {

constexpr std::string_view kOpticalType = "5\n";  // TYPE_ROM
constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;

// "<major>:<minor>", each up to 255.
std::optional<std::array<unsigned, 2>> MajorMinor(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto major = optical::Decimal(text.substr(0, colon), 255);
  const auto minor = optical::Decimal(text.substr(colon + 1), 255);
  if (!major || !minor) return std::nullopt;
  return std::array<unsigned, 2>{*major, *minor};
}

// The reply to `request` before it is answered: its tag and kind.
Reply Answered(const Request& request) {
  Reply reply;
  reply.tag = request.tag;
  reply.kind = request.kind;
  return reply;
}

// The replies written to the flasher's socket, whole, one at a time, from the thread that serves
// the requests and from the commands' threads, which it starts and waits for.
class ReplyWriter {
 public:
  explicit ReplyWriter(int out) : out(out) {}

  // A flasher that has gone is seen at the next read, as the end of its requests.
  void Write(const Reply& reply) {
    std::vector<std::uint8_t> bytes;
    drivehelper::WriteReply(reply, bytes);
    std::lock_guard<std::mutex> hold(lock);
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t written = ::write(out, bytes.data() + at, bytes.size() - at);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      at += static_cast<std::size_t>(written);
    }
  }

  // Runs `work` on a thread of its own, or here when no thread can be had.
  void Start(std::function<void()> work) {
    {
      std::lock_guard<std::mutex> hold(lock);
      ++running;
    }
    // The work, and the drive it holds, are let go of before the wait can end.
    auto run = [this, work = std::move(work)]() mutable {
      work();
      work = nullptr;
      std::lock_guard<std::mutex> hold(lock);
      --running;
      ended.notify_all();
    };
    try {
      std::thread(run).detach();  // a copy: `run` stays for the fallback
    } catch (const std::system_error&) {
      run();
    }
  }

  void WaitForAll() {
    std::unique_lock<std::mutex> hold(lock);
    ended.wait(hold, [this] { return running == 0; });
  }

 private:
  const int out;
  std::mutex lock;
  std::condition_variable ended;
  int running = 0;
};

}  // namespace

struct DriveHelper::Listed {
  drivehelper::DriveEntry entry;
  std::uint64_t device = 0;  // the node's device number, as sysfs names it
};

namespace {

ScsiAddress Address(const DriveHelper::Listed& listed) {
  ScsiAddress address{};
  address.PortNumber = listed.entry.host;
  address.PathId = listed.entry.channel;
  address.TargetId = listed.entry.id;
  address.Lun = listed.entry.lun;
  return address;
}

}  // namespace

DriveHelper::DriveHelper(LinuxKernel& kernel, std::ostream& notices)
    : kernel(kernel), notices(notices) {
  pending.reserve(drivehelper::kLengthBytes + drivehelper::kLongestRequest);
}

// An open drive (its node's descriptor, and the lock taken for it), or a lock alone; closed when
// its handle is closed and no command runs on it any more.
struct DriveHelper::Held {
  Held(LinuxKernel& kernel, std::uint8_t drive) : kernel(kernel), drive(drive) {}
  ~Held() {
    if (descriptor >= 0) kernel.Close(descriptor);
    if (lock >= 0) kernel.Close(lock);
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

  LinuxKernel& kernel;
  const std::uint8_t drive;
  int descriptor = -1;   // -1 for a lock alone
  int lock = -1;         // the lock file's descriptor; -1 without one of its own
  bool running = false;  // a command runs on it
};

DriveHelper::~DriveHelper() = default;

// sysfs names, for block device srN: its device number ("dev", "<major>:<minor>"), and through
// the link "device" its SCSI device, named "<host>:<channel>:<id>:<lun>", whose "type" is its
// SCSI peripheral device type.
std::vector<DriveHelper::Listed> DriveHelper::List() {
  std::vector<Listed> drives;
  for (const std::string& path : kernel.OpticalDevices()) {
    const auto number = optical::NodeNumber(path, 255);
    if (!number) continue;
    const std::string block = "/sys/class/block/sr" + std::to_string(*number);
    std::string type, device;
    if (kernel.ReadAttribute(block + "/device/type", type) != 0 || type != kOpticalType ||
        kernel.ReadAttribute(block + "/dev", device) != 0 || device.empty() ||
        device.back() != '\n') {
      continue;
    }
    device.pop_back();
    const auto majorMinor = MajorMinor(device);
    const auto address = optical::ReadAddress(kernel, *number);
    if (!majorMinor || !address) continue;
    Listed listed;
    listed.entry.drive = static_cast<std::uint8_t>(*number);
    listed.entry.host = (*address)[0];
    listed.entry.channel = (*address)[1];
    listed.entry.id = (*address)[2];
    listed.entry.lun = (*address)[3];
    listed.device = makedev((*majorMinor)[0], (*majorMinor)[1]);
    drives.push_back(listed);
  }
  std::sort(drives.begin(), drives.end(),
            [](const Listed& a, const Listed& b) { return a.entry.drive < b.entry.drive; });
  if (drives.size() > drivehelper::kMostDrives) drives.resize(drivehelper::kMostDrives);
  return drives;
}

bool DriveHelper::Take(std::span<const std::uint8_t> bytes, std::vector<Request>& requests) {
  pending.insert(pending.end(), bytes.begin(), bytes.end());
  std::size_t at = 0;
  while (pending.size() - at >= drivehelper::kLengthBytes) {
    const auto length =
        drivehelper::BodyLength(std::span<const std::uint8_t, drivehelper::kLengthBytes>(
                                    pending.data() + at, drivehelper::kLengthBytes),
                                drivehelper::kLongestRequest);
    if (!length) return false;
    if (pending.size() - at - drivehelper::kLengthBytes < *length) break;
    const auto request = drivehelper::ReadRequest(
        std::span<const std::uint8_t>(pending.data() + at + drivehelper::kLengthBytes, *length));
    if (!request) return false;
    requests.push_back(*request);
    at += drivehelper::kLengthBytes + *length;
  }
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

bool DriveHelper::Serve(int in, int out) {
  ReplyWriter replies(out);
  std::vector<std::uint8_t> bytes(drivehelper::kLongestData);
  std::vector<Request> requests;
  bool wellFormed = true;
  while (wellFormed) {
    const ssize_t length = ::read(in, bytes.data(), bytes.size());
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) break;
    requests.clear();
    wellFormed = Take(std::span(bytes.data(), static_cast<std::size_t>(length)), requests);
    for (const Request& request : requests) {
      if (request.kind != Kind::SgIo) {
        replies.Write(Answer(request));
        continue;
      }
      Reply answer = Answered(request);
      const std::shared_ptr<Held> held = Claim(request.handle, answer.error);
      if (!held) {
        replies.Write(answer);
        continue;
      }
      replies.Start([this, held, request, answer, &replies]() mutable {
        Run(*held, request, answer);
        replies.Write(answer);
      });
    }
  }
  replies.WaitForAll();
  return wellFormed;
}

std::optional<DriveHelper::Listed> DriveHelper::Find(std::uint8_t drive) {
  for (const Listed& listed : List()) {
    if (listed.entry.drive == drive) return listed;
  }
  return std::nullopt;
}

Reply DriveHelper::Answer(const Request& request) {
  Reply reply = Answered(request);
  switch (request.kind) {
    case Kind::List:
      for (const Listed& listed : List()) reply.drives.push_back(listed.entry);
      break;
    case Kind::Open:
      reply.error = Open(request, reply.handle);
      break;
    case Kind::SgIo:
      if (const auto held = Claim(request.handle, reply.error)) Run(*held, request, reply);
      break;
    case Kind::Close:
      reply.error = Close(request.handle);
      break;
    case Kind::Lock:
      reply.error = LockAlone(request.drive, reply.handle);
      break;
  }
  return reply;
}

// The drive's lock file: 0 with `lock` its descriptor, or the error (EWOULDBLOCK: another
// flasher holds it).
std::uint32_t DriveHelper::Lock(const Listed& listed, int& lock) {
  return static_cast<std::uint32_t>(LockDriveFile(kernel, Address(listed), lock));
}

bool DriveHelper::LockHeld(std::uint8_t drive) {
  std::lock_guard<std::mutex> hold(lock);
  return std::any_of(handles.begin(), handles.end(), [&](const auto& each) {
    return each.second->drive == drive && each.second->lock >= 0;
  });
}

std::uint32_t DriveHelper::LockAlone(std::uint8_t drive, std::uint8_t& handle) {
  const auto listed = Find(drive);
  if (!listed) return ENODEV;
  auto held = std::make_shared<Held>(kernel, drive);
  if (const std::uint32_t error = Lock(*listed, held->lock); error != 0) return error;
  return Keep(std::move(held), handle);
}

// The lock comes first, so that a drive another flasher is updating is never opened exclusively:
// an open sends the drive the kernel's medium checks.
std::uint32_t DriveHelper::Open(const Request& request, std::uint8_t& handle) {
  const auto listed = Find(request.drive);
  if (!listed) return ENODEV;
  auto held = std::make_shared<Held>(kernel, request.drive);
  if (request.exclusive && !LockHeld(request.drive)) {
    if (const std::uint32_t error = Lock(*listed, held->lock); error == EWOULDBLOCK) {
      return error;
    } else if (error != 0) {
      notices << "movrel-drive-helper: cannot lock " << DriveLockPath(Address(*listed)) << " ("
              << std::strerror(static_cast<int>(error))
              << "): other flashers are not kept from the drive; " << kDriveLockDirectory
              << " must be a directory of root's that only root may write" << std::endl;
    }
  }
  held->descriptor =
      kernel.Open(optical::NodeOf(request.drive), kOpenFlags | (request.exclusive ? O_EXCL : 0));
  if (held->descriptor < 0) return static_cast<std::uint32_t>(-held->descriptor);
  unsigned mode = 0;
  std::uint64_t device = 0;
  if (kernel.DescriptorStatus(held->descriptor, mode, device) != 0 || !S_ISBLK(mode) ||
      device != listed->device) {
    return ENODEV;
  }
  return Keep(std::move(held), handle);
}

// The smallest free handle for `held`, or EMFILE (and `held` closed) when all are taken.
std::uint32_t DriveHelper::Keep(std::shared_ptr<Held> held, std::uint8_t& handle) {
  std::lock_guard<std::mutex> hold(lock);
  for (std::uint8_t free = 1; free <= drivehelper::kMostHandles; ++free) {
    if (handles.emplace(free, held).second) {
      handle = free;
      return 0;
    }
  }
  return EMFILE;
}

// The open drive of `handle`, marked running until its command has run (and kept open by it even
// when closed meanwhile); nothing, with `error` EBADF or EBUSY, for a handle that is not an open
// drive's or whose command still runs.
std::shared_ptr<DriveHelper::Held> DriveHelper::Claim(std::uint8_t handle, std::uint32_t& error) {
  std::lock_guard<std::mutex> hold(lock);
  const auto found = handles.find(handle);
  if (found == handles.end() || found->second->descriptor < 0) {
    error = EBADF;
    return nullptr;
  }
  if (found->second->running) {
    error = EBUSY;
    return nullptr;
  }
  found->second->running = true;
  return found->second;
}

void DriveHelper::Run(Held& held, const Request& request, Reply& reply) {
  std::array<std::uint8_t, drivehelper::kLongestCommand> command = request.command;
  std::array<std::uint8_t, drivehelper::kLongestSense> sense{};
  std::vector<std::uint8_t> data = request.direction == Direction::ToDevice
                                       ? request.data
                                       : std::vector<std::uint8_t>(request.dataLength);
  sg_io_hdr_t header{};
  header.interface_id = 'S';
  header.dxfer_direction = request.direction == Direction::ToDevice     ? SG_DXFER_TO_DEV
                           : request.direction == Direction::FromDevice ? SG_DXFER_FROM_DEV
                                                                        : SG_DXFER_NONE;
  header.cmd_len = request.commandLength;
  header.cmdp = command.data();
  header.mx_sb_len = sense.size();
  header.sbp = sense.data();
  header.dxfer_len = request.dataLength;
  header.dxferp = data.empty() ? nullptr : data.data();
  header.timeout = request.timeoutMilliseconds;
  reply.error = static_cast<std::uint32_t>(kernel.SgIo(held.descriptor, header));
  {
    std::lock_guard<std::mutex> hold(lock);
    held.running = false;
  }
  if (reply.error != 0) return;
  reply.status = header.status;
  reply.hostStatus = header.host_status;
  reply.driverStatus = header.driver_status;
  reply.residue = header.resid;
  reply.sense.assign(sense.begin(),
                     sense.begin() + std::min<std::size_t>(header.sb_len_wr, sense.size()));
  if (request.direction == Direction::FromDevice) reply.data = std::move(data);
}

std::uint32_t DriveHelper::Close(std::uint8_t handle) {
  std::shared_ptr<Held> closed;  // closed outside the lock, or by the command still running
  std::lock_guard<std::mutex> hold(lock);
  const auto found = handles.find(handle);
  if (found == handles.end()) return EBADF;
  closed = std::move(found->second);
  handles.erase(found);
  return 0;
}

}  // namespace movrel::platform
