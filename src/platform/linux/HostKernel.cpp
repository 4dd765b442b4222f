// The kernel this process runs on: the system calls behind LinuxKernel.
#include <fcntl.h>
#include <glob.h>
#include <linux/capability.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>

#include "platform/linux/LinuxKernel.h"
#include "platform/linux/SystemManager.h"

extern char** environ;

namespace movrel::platform {

namespace {

// Whether the capability is in the process's effective set (capget(2)).
bool HoldsCapability(int capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
  if (::syscall(SYS_capget, &header, sets) != 0) return false;
  return (sets[CAP_TO_INDEX(capability)].effective & CAP_TO_MASK(capability)) != 0;
}

class Host : public LinuxKernel {
 public:
  std::vector<std::string> OpticalDevices() override {
    std::vector<std::string> paths;
    glob_t found{};
    if (::glob("/dev/sr*", 0, nullptr, &found) == 0) {
      paths.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
    }
    ::globfree(&found);
    return paths;
  }

  int ReadLink(const std::string& path, std::string& target) override {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (length < 0) return errno;
    if (static_cast<std::size_t>(length) == sizeof buffer) return ENAMETOOLONG;
    target.assign(buffer, static_cast<std::size_t>(length));
    return 0;
  }

  int MakeDirectory(const std::string& path, unsigned mode) override {
    return ::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0 ? 0 : errno;
  }

  int Status(const std::string& path, unsigned& owner, unsigned& mode) override {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return errno;
    owner = status.st_uid;
    mode = status.st_mode;
    return 0;
  }

  int Open(const std::string& path, int flags) override {
    int descriptor = -1;
    do {
      descriptor = ::open(path.c_str(), flags, S_IRUSR | S_IWUSR);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor < 0 ? -errno : descriptor;
  }

  void Close(int descriptor) override { ::close(descriptor); }

  int Flock(int descriptor, int operation) override {
    int result = 0;
    do {
      result = ::flock(descriptor, operation);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
  }

  bool Mounted(const std::string& path) override {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0 || !S_ISBLK(node.st_mode)) return false;
    const std::string device =
        std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev));
    std::ifstream mounts("/proc/self/mountinfo");
    std::string id, parent, numbers, rest;
    while (mounts >> id >> parent >> numbers && std::getline(mounts, rest)) {
      if (numbers == device) return true;
    }
    return false;
  }

  // Not repeated after EINTR: the command may have reached the drive already.
  int SgIo(int descriptor, sg_io_hdr& request) override {
    return ::ioctl(descriptor, SG_IO, &request) == 0 ? 0 : errno;
  }

  int GetIdLun(int descriptor, std::uint32_t& idLun) override {
    struct {
      std::uint32_t devId;
      std::uint32_t hostUniqueId;
    } word{};
    if (::ioctl(descriptor, SCSI_IOCTL_GET_IDLUN, &word) != 0) return errno;
    idLun = word.devId;
    return 0;
  }

  int GetBusNumber(int descriptor, int& host) override {
    return ::ioctl(descriptor, SCSI_IOCTL_GET_BUS_NUMBER, &host) == 0 ? 0 : errno;
  }

  int DescriptorStatus(int descriptor, unsigned& mode, std::uint64_t& device) override {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) return errno;
    mode = status.st_mode;
    device = status.st_rdev;
    return 0;
  }

  int ReadAttribute(const std::string& path, std::string& text) override {
    const int descriptor = Open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) return -descriptor;
    char page[4096];
    ssize_t length = 0;
    do {
      length = ::read(descriptor, page, sizeof page);
    } while (length < 0 && errno == EINTR);
    const int error = length < 0 ? errno : 0;
    ::close(descriptor);
    if (error == 0) text.assign(page, static_cast<std::size_t>(length));
    return error;
  }

  std::string PowerSupplyClass() override { return "/sys/class/power_supply"; }

  bool MayReboot() override { return ::geteuid() == 0 || HoldsCapability(CAP_SYS_BOOT); }
  bool MaySendRawCommands() override { return HoldsCapability(CAP_SYS_RAWIO); }

  int Run(const std::vector<std::string>& command) override {
    std::vector<char*> arguments;
    for (const std::string& argument : command) {
      arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawn(&child, arguments[0], nullptr, nullptr, arguments.data(), environ) != 0) {
      return 127;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  bool SystemdBooted() override {
    struct stat status {};
    return ::lstat("/run/systemd/system", &status) == 0 && S_ISDIR(status.st_mode);
  }

  int Inhibit(const std::string& what, const std::string& who, const std::string& why,
              const std::string& mode) override {
    return systemmanager::Inhibit(what, who, why, mode);
  }
  bool JournalPresent() override { return systemmanager::JournalPresent(); }
  int JournalSend(const std::vector<std::string>& fields) override {
    return systemmanager::JournalSend(fields);
  }
};

}  // namespace

std::unique_ptr<LinuxKernel> HostKernel() {
  return std::make_unique<Host>();
}

}  // namespace movrel::platform
