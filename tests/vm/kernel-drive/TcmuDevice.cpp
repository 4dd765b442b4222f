#include "TcmuDevice.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "Configfs.h"

namespace kerneldrive {

namespace {

const std::string kHba = configfs::kTarget + "/core/user_0";

std::string ReadLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The UIO device of the given name, as /sys/class/uio lists it: "uioN".
std::string FindUio(const std::string& name) {
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/uio")) {
    if (ReadLine(entry.path() / "name") == name) return entry.path().filename();
  }
  throw std::runtime_error("no UIO device is named " + name);
}

// devtmpfs makes the node of a new device shortly after the device appears in sysfs.
int OpenNode(const std::string& node) {
  for (int attempt = 0;; ++attempt) {
    const int descriptor = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (descriptor >= 0 || errno != ENOENT || attempt == 200) return descriptor;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

TcmuDevice::TcmuDevice(const std::string& name) : path(kHba + "/" + name) {
  const std::string config = "movrel/" + name;
  configfs::Make(kHba, true);
  configfs::Make(path);
  configfs::Set(path + "/control", "dev_config=" + config + ",nl_reply_supported=-1");
  configfs::Set(path + "/attrib/cmd_time_out", "0");
  configfs::Set(path + "/enable", "1");

  const std::string device = FindUio("tcm-user/0/" + name + "/" + config);
  size = std::stoull(ReadLine("/sys/class/uio/" + device + "/maps/map0/size"), nullptr, 0);
  uio = OpenNode("/dev/" + device);
  if (uio < 0) throw std::system_error(errno, std::generic_category(), "open /dev/" + device);
  void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, uio, 0);
  if (mapped == MAP_FAILED) {
    throw std::system_error(errno, std::generic_category(), "mmap /dev/" + device);
  }
  region = static_cast<std::uint8_t*>(mapped);
}

TcmuDevice::~TcmuDevice() {
  if (region != nullptr) ::munmap(region, size);
  if (uio >= 0) ::close(uio);
  ::rmdir(path.c_str());
}

void TcmuDevice::TakeSignal() {
  std::uint32_t count;
  if (::read(uio, &count, sizeof count) != sizeof count) {
    throw std::system_error(errno, std::generic_category(), "read " + path);
  }
}

void TcmuDevice::Signal() {
  const std::uint32_t any = 0;
  if (::write(uio, &any, sizeof any) != sizeof any) {
    throw std::system_error(errno, std::generic_category(), "write " + path);
  }
}

}  // namespace kerneldrive
