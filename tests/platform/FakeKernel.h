// A Linux kernel made up for tests: optical devices that open or refuse as told and answer their
// address, in the device ioctls and as sysfs links, their SCSI type and device number as sysfs
// attributes, and whose node an open finds (a symbolic link or another node planted there); every
// other path a real one under a temporary folder of its own or one given (so that another process's
// kernel shares its files and their flock(2) locks), whose files the test's own user owns as root
// does; an SG_IO that records each request and answers as told, a reboot permission, the exit
// statuses of the programs the system starts, an inhibitor that is granted or refused, and a
// journal that keeps its records. Safe to use from several threads.
#pragma once

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/LinuxKernel.h"

namespace movrel::test {

class FakeKernel : public platform::LinuxKernel {
 public:
  struct Drive {
    std::string path;
    int openError = 0;
    std::uint32_t idLun = 0;
    int host = 0;
    int addressError = 0;
    bool mounted = false;  // a file system is mounted from it: no O_EXCL open
    // sysfs: the SCSI type of its device (5, an optical drive) and its device number.
    unsigned scsiType = 5;
    std::uint64_t rdev = 0;
    // The file at `path` when it is not the block device sysfs names: a symbolic link (refused
    // under O_NOFOLLOW) to, or a node of, this mode and device number.
    bool link = false;
    unsigned nodeMode = S_IFBLK | 0660;
    std::optional<std::uint64_t> nodeRdev = std::nullopt;
  };
  // What SG_IO does with the next requests.
  struct Answer {
    int error = 0;
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    std::vector<std::uint8_t> sense;
    int resid = 0;
    std::vector<std::uint8_t> dataIn = {};  // written into a from-device buffer, as far as it goes
  };
  // What the last SG_IO request carried.
  struct Sent {
    int interfaceId = 0;
    int direction = 0;
    unsigned dataLength = 0;
    void* data = nullptr;
    unsigned timeout = 0;
    unsigned commandLength = 0;
    std::array<std::uint8_t, 16> command{};
    unsigned maxSense = 0;
    int descriptor = 0;
    std::vector<std::uint8_t> dataOut;  // the bytes of a to-device request
  };

  // Its own temporary folder for every path but the drives', or `files` (another kernel's).
  explicit FakeKernel(std::string files = {}) : files(std::move(files)) {
    if (!this->files.empty()) return;
    std::string made = "/tmp/movrel-kernel-XXXXXX";
    if (::mkdtemp(made.data()) == nullptr) return;
    this->files = ownFiles = made;
    ::mkdir(Real("/run").c_str(), 0755);
  }
  ~FakeKernel() override {
    std::error_code ignored;
    if (!ownFiles.empty()) std::filesystem::remove_all(ownFiles, ignored);
  }
  FakeKernel(const FakeKernel&) = delete;
  FakeKernel& operator=(const FakeKernel&) = delete;

  // Where a path other than a drive's lies for real.
  std::string Real(const std::string& path) const { return files + path; }

  std::vector<Drive> drives;
  std::map<std::string, unsigned> owners;  // made-up owners of real paths, by path
  Answer answer;
  bool mayReboot = true;
  bool maySendRawCommands = true;
  bool systemdBooted = true;
  std::deque<int> runStatuses;  // the exit status of each program started, in turn (0 after them)
  int inhibitError = 0;         // what Inhibit fails with; granted when 0
  bool journalPresent = true;
  std::string powerSupplyClass = "/nonexistent/power_supply";  // a tree of files made by the test
  // Runs as a command reaches its drive (named by its path), before the kernel's answer and
  // outside its lock: a drive's command may wait there for another's.
  std::function<void(const std::string& drive)> whileSent;

  std::vector<std::string> Inhibitions() {
    std::lock_guard<std::mutex> hold(lock);
    return inhibitions;
  }
  std::vector<std::vector<std::string>> JournalRecords() {
    std::lock_guard<std::mutex> hold(lock);
    return journal;
  }
  int SgIoCount() {
    std::lock_guard<std::mutex> hold(lock);
    return sgIoCount;
  }

  std::vector<std::string> Opened() {
    std::lock_guard<std::mutex> hold(lock);
    return opened;
  }
  int LastOpenFlags() {
    std::lock_guard<std::mutex> hold(lock);
    return openFlags;
  }
  int OpenDescriptors() {
    std::lock_guard<std::mutex> hold(lock);
    return open;
  }
  Sent LastSent() {
    std::lock_guard<std::mutex> hold(lock);
    return sent;
  }
  std::vector<std::string> Ran() {
    std::lock_guard<std::mutex> hold(lock);
    return ran;
  }

  std::vector<std::string> OpticalDevices() override {
    std::vector<std::string> paths;
    for (const Drive& drive : drives) paths.push_back(drive.path);
    return paths;
  }

  // sysfs's link from the block device to its SCSI device, for a drive that answers its address.
  int ReadLink(const std::string& path, std::string& target) override {
    for (const Drive& drive : drives) {
      if (drive.addressError != 0 ||
          path != "/sys/class/block/" + drive.path.substr(drive.path.rfind('/') + 1) + "/device") {
        continue;
      }
      target = "../../../" + std::to_string(drive.host) + ":" +
               std::to_string(drive.idLun >> 16 & 0xFF) + ":" + std::to_string(drive.idLun & 0xFF) +
               ":" + std::to_string(drive.idLun >> 8 & 0xFF);
      return 0;
    }
    return ENOENT;
  }

  int MakeDirectory(const std::string& path, unsigned mode) override {
    return ::mkdir(Real(path).c_str(), static_cast<mode_t>(mode)) == 0 ? 0 : errno;
  }

  int Status(const std::string& path, unsigned& owner, unsigned& mode) override {
    struct stat status {};
    if (::lstat(Real(path).c_str(), &status) != 0) return errno;
    const auto madeUp = owners.find(path);
    owner = madeUp != owners.end()         ? madeUp->second
            : status.st_uid == ::geteuid() ? 0
                                           : status.st_uid;
    mode = status.st_mode;
    return 0;
  }

  bool Mounted(const std::string& path) override {
    std::lock_guard<std::mutex> hold(lock);
    for (const Drive& drive : drives) {
      if (drive.path == path) return drive.mounted;
    }
    return false;
  }

  int Open(const std::string& path, int flags) override {
    std::lock_guard<std::mutex> hold(lock);
    opened.push_back(path);
    openFlags = flags;
    for (std::size_t i = 0; i < drives.size(); ++i) {
      if (drives[i].path != path) continue;
      if (drives[i].openError != 0) return -drives[i].openError;
      if (drives[i].link && (flags & O_NOFOLLOW) != 0) return -ELOOP;
      const bool exclusive = (flags & O_EXCL) != 0;
      if (exclusive && (drives[i].mounted || exclusiveOpens.count(i) != 0)) return -EBUSY;
      const int descriptor = nextDescriptor++;
      ++open;
      descriptors[descriptor] = i;
      if (exclusive) exclusiveOpens[i] = descriptor;
      return descriptor;
    }
    if (path.rfind("/dev/", 0) == 0) return -ENOENT;
    const int descriptor = ::open(Real(path).c_str(), flags, S_IRUSR | S_IWUSR);
    if (descriptor < 0) return -errno;
    ++open;
    descriptors[descriptor] = kRealFile;
    return descriptor;
  }

  void Close(int descriptor) override {
    std::lock_guard<std::mutex> hold(lock);
    --open;
    const std::size_t drive = descriptors.at(descriptor);
    if (drive == kRealFile) ::close(descriptor);
    if (const auto held = exclusiveOpens.find(drive);
        held != exclusiveOpens.end() && held->second == descriptor) {
      exclusiveOpens.erase(held);
    }
    descriptors.erase(descriptor);
  }

  // On real files only: the backend locks no device.
  int Flock(int descriptor, int operation) override {
    {
      std::lock_guard<std::mutex> hold(lock);
      if (descriptors.at(descriptor) != kRealFile) return EINVAL;
    }
    return ::flock(descriptor, operation) == 0 ? 0 : errno;
  }

  int SgIo(int descriptor, sg_io_hdr& request) override {
    if (whileSent) whileSent(DrivePath(descriptor));
    std::lock_guard<std::mutex> hold(lock);
    sent.descriptor = descriptor;
    sent.interfaceId = request.interface_id;
    sent.direction = request.dxfer_direction;
    sent.dataLength = request.dxfer_len;
    sent.data = request.dxferp;
    sent.timeout = request.timeout;
    sent.commandLength = request.cmd_len;
    std::memcpy(sent.command.data(), request.cmdp, std::min<unsigned>(request.cmd_len, 16));
    sent.maxSense = request.mx_sb_len;
    const auto* data = static_cast<const std::uint8_t*>(request.dxferp);
    if (request.dxfer_direction == SG_DXFER_TO_DEV) {
      sent.dataOut.assign(data, data + request.dxfer_len);
    } else if (request.dxfer_direction == SG_DXFER_FROM_DEV && !answer.dataIn.empty()) {
      std::memcpy(request.dxferp, answer.dataIn.data(),
                  std::min<std::size_t>(answer.dataIn.size(), request.dxfer_len));
    }
    ++sgIoCount;
    if (answer.error != 0) return answer.error;
    request.status = answer.status;
    request.masked_status = answer.status >> 1;
    request.host_status = answer.hostStatus;
    request.driver_status = answer.driverStatus;
    const std::size_t written = std::min<std::size_t>(answer.sense.size(), request.mx_sb_len);
    if (written != 0) std::memcpy(request.sbp, answer.sense.data(), written);
    request.sb_len_wr = static_cast<unsigned char>(written);
    request.resid = answer.resid;
    return 0;
  }

  int GetIdLun(int descriptor, std::uint32_t& idLun) override {
    const Drive& drive = DriveOf(descriptor);
    if (drive.addressError == 0) idLun = drive.idLun;
    return drive.addressError;
  }

  int GetBusNumber(int descriptor, int& host) override {
    const Drive& drive = DriveOf(descriptor);
    if (drive.addressError == 0) host = drive.host;
    return drive.addressError;
  }

  int DescriptorStatus(int descriptor, unsigned& mode, std::uint64_t& device) override {
    std::lock_guard<std::mutex> hold(lock);
    const std::size_t at = descriptors.at(descriptor);
    if (at >= drives.size()) return EBADF;
    mode = drives[at].nodeMode;
    device = drives[at].nodeRdev.value_or(drives[at].rdev);
    return 0;
  }

  // A drive's sysfs attributes "dev" and "device/type"; no other attribute is there.
  int ReadAttribute(const std::string& path, std::string& text) override {
    for (const Drive& drive : drives) {
      const std::string block = "/sys/class/block/" + drive.path.substr(drive.path.rfind('/') + 1);
      if (path == block + "/dev") {
        text = std::to_string(major(drive.rdev)) + ":" + std::to_string(minor(drive.rdev)) + "\n";
        return 0;
      }
      if (path == block + "/device/type") {
        text = std::to_string(drive.scsiType) + "\n";
        return 0;
      }
    }
    return ENOENT;
  }

  std::string PowerSupplyClass() override { return powerSupplyClass; }
  bool MayReboot() override { return mayReboot; }
  bool MaySendRawCommands() override { return maySendRawCommands; }
  bool SystemdBooted() override { return systemdBooted; }

  int Run(const std::vector<std::string>& command) override {
    std::lock_guard<std::mutex> hold(lock);
    std::string line;
    for (const std::string& argument : command) line += (line.empty() ? "" : " ") + argument;
    ran.push_back(line);
    if (runStatuses.empty()) return 0;
    const int status = runStatuses.front();
    runStatuses.pop_front();
    return status;
  }

  // A granted inhibitor is a descriptor of its own, closed like any other.
  int Inhibit(const std::string& what, const std::string& who, const std::string& why,
              const std::string& mode) override {
    std::lock_guard<std::mutex> hold(lock);
    inhibitions.push_back(what + " " + who + " " + why + " " + mode);
    if (inhibitError != 0) return -inhibitError;
    ++open;
    descriptors[nextDescriptor] = kInhibitor;
    return nextDescriptor++;
  }

  bool JournalPresent() override { return journalPresent; }

  int JournalSend(const std::vector<std::string>& fields) override {
    std::lock_guard<std::mutex> hold(lock);
    journal.push_back(fields);
    return 0;
  }

 private:
  static constexpr std::size_t kInhibitor = static_cast<std::size_t>(-1);
  static constexpr std::size_t kRealFile = static_cast<std::size_t>(-2);

  std::string DrivePath(int descriptor) {
    std::lock_guard<std::mutex> hold(lock);
    const std::size_t at = descriptors.at(descriptor);
    return at < drives.size() ? drives[at].path : std::string();
  }

  const Drive& DriveOf(int descriptor) {
    std::lock_guard<std::mutex> hold(lock);
    return drives.at(descriptors.at(descriptor));
  }

  std::string files;
  std::string ownFiles;  // the temporary folder it made, removed with it
  std::mutex lock;
  std::vector<std::string> opened;
  int openFlags = 0;
  int open = 0;
  Sent sent;
  std::vector<std::string> ran;
  int nextDescriptor = 100;
  std::map<int, std::size_t> descriptors;     // open descriptor -> drive (or the inhibitor)
  std::map<std::size_t, int> exclusiveOpens;  // drive -> its descriptor opened with O_EXCL
  int sgIoCount = 0;
  std::vector<std::string> inhibitions;
  std::vector<std::vector<std::string>> journal;
};

}  // namespace movrel::test
