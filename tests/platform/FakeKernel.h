// A Linux kernel made up for tests: optical devices that open or refuse as told and answer their
// address, locks on them (on a real file standing for the node when one is given, so that other
// processes see them), an SG_IO that records each request and answers as told, a reboot
// permission, the exit statuses of the programs the system starts, an inhibitor that is granted
// or refused, and a journal that keeps its records. Safe to use from several threads.
#pragma once

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/LinuxKernel.h"

namespace platform {

class FakeKernel : public LinuxKernel {
 public:
  struct Drive {
    std::string path;
    int openError = 0;
    std::uint32_t idLun = 0;
    int host = 0;
    int addressError = 0;
    std::string file = {};  // a real file standing for the node: opened and locked for real
    bool mounted = false;   // a file system is mounted from it: no O_EXCL open
  };
  // What SG_IO does with the next requests.
  struct Answer {
    int error = 0;
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    std::vector<std::uint8_t> sense;
    int resid = 0;
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
  };

  std::vector<Drive> drives;
  Answer answer;
  bool mayReboot = true;
  bool maySendRawCommands = true;
  bool systemdBooted = true;
  std::deque<int> runStatuses;  // the exit status of each program started, in turn (0 after them)
  int inhibitError = 0;         // what Inhibit fails with; granted when 0
  bool journalPresent = true;
  std::string powerSupplyClass = "/nonexistent/power_supply";  // a tree of files made by the test
  std::function<void()> onFlock;  // called before each flock(2), e.g. to let another holder go

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

  // Whether a descriptor holds the exclusive lock of the drive (without a real file).
  bool FlockHeld(const std::string& path) {
    std::lock_guard<std::mutex> hold(lock);
    for (std::size_t i = 0; i < drives.size(); ++i) {
      if (drives[i].path == path) return exclusive[i] != 0;
    }
    return false;
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

  // sysfs names the node of the drive at the address, whether or not it opens.
  std::string NodeAt(int host, int channel, int id, int lun) override {
    const std::uint32_t idLun = static_cast<std::uint32_t>(id | lun << 8 | channel << 16);
    for (const Drive& drive : drives) {
      if (drive.addressError == 0 && drive.host == host && (drive.idLun & 0xFFFFFF) == idLun) {
        return drive.path;
      }
    }
    return "";
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
      const bool exclusive = (flags & O_EXCL) != 0;
      if (exclusive && (drives[i].mounted || exclusiveOpens.count(i) != 0)) return -EBUSY;
      const int descriptor =
          drives[i].file.empty() ? nextDescriptor++ : ::open(drives[i].file.c_str(), O_RDWR);
      if (descriptor < 0) return -errno;
      ++open;
      descriptors[descriptor] = i;
      if (exclusive) exclusiveOpens[i] = descriptor;
      return descriptor;
    }
    return -ENOENT;
  }

  void Close(int descriptor) override {
    std::lock_guard<std::mutex> hold(lock);
    --open;
    const std::size_t drive = descriptors.at(descriptor);
    if (drive != kInhibitor && !drives[drive].file.empty()) ::close(descriptor);
    for (auto& [drive, holder] : exclusive) {
      if (holder == descriptor) holder = 0;
    }
    for (auto& [drive, holders] : shared) holders.erase(descriptor);
    if (const auto held = exclusiveOpens.find(drive);
        held != exclusiveOpens.end() && held->second == descriptor) {
      exclusiveOpens.erase(held);
    }
    descriptors.erase(descriptor);
  }

  // Without a real file, as flock(2) does: an exclusive lock keeps every other descriptor's lock
  // out, a shared one every other exclusive lock.
  int Flock(int descriptor, int operation) override {
    if (onFlock) onFlock();
    std::lock_guard<std::mutex> hold(lock);
    const std::size_t drive = descriptors.at(descriptor);
    if (!drives[drive].file.empty()) return ::flock(descriptor, operation) == 0 ? 0 : errno;
    int& holder = exclusive[drive];
    std::set<int>& sharers = shared[drive];
    if ((operation & LOCK_UN) != 0) {
      if (holder == descriptor) holder = 0;
      sharers.erase(descriptor);
      return 0;
    }
    if (holder != 0 && holder != descriptor) return EWOULDBLOCK;
    if ((operation & LOCK_SH) != 0) {
      if (holder == descriptor) holder = 0;
      sharers.insert(descriptor);
      return 0;
    }
    if (sharers.size() > sharers.count(descriptor)) return EWOULDBLOCK;
    sharers.erase(descriptor);
    holder = descriptor;
    return 0;
  }

  int SgIo(int descriptor, sg_io_hdr& request) override {
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

  const Drive& DriveOf(int descriptor) {
    std::lock_guard<std::mutex> hold(lock);
    return drives.at(descriptors.at(descriptor));
  }

  std::mutex lock;
  std::vector<std::string> opened;
  int openFlags = 0;
  int open = 0;
  Sent sent;
  std::vector<std::string> ran;
  int nextDescriptor = 100;
  std::map<int, std::size_t> descriptors;       // open descriptor -> drive (or the inhibitor)
  std::map<std::size_t, int> exclusive;         // drive -> the descriptor holding its lock
  std::map<std::size_t, std::set<int>> shared;  // drive -> the descriptors sharing its lock
  std::map<std::size_t, int> exclusiveOpens;    // drive -> its descriptor opened with O_EXCL
  int sgIoCount = 0;
  std::vector<std::string> inhibitions;
  std::vector<std::vector<std::string>> journal;
};

}  // namespace platform
