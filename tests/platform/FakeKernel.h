// A Linux kernel made up for tests: optical devices that open or refuse as told and answer their
// address, an SG_IO that records each request and answers as told, a reboot permission and the
// exit statuses of the programs the system starts. Safe to use from several threads.
#pragma once

#include <scsi/sg.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
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
  };
  // What SG_IO does with the next requests.
  struct Answer {
    int error = 0;
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    std::vector<std::uint8_t> sense;
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
  };

  std::vector<Drive> drives;
  Answer answer;
  bool mayReboot = true;
  std::deque<int> runStatuses;  // the exit status of each program started, in turn (0 after them)

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

  int Open(const std::string& path, int flags) override {
    std::lock_guard<std::mutex> hold(lock);
    opened.push_back(path);
    openFlags = flags;
    for (std::size_t i = 0; i < drives.size(); ++i) {
      if (drives[i].path != path) continue;
      if (drives[i].openError != 0) return -drives[i].openError;
      ++open;
      return static_cast<int>(100 + i);
    }
    return -ENOENT;
  }

  void Close(int) override {
    std::lock_guard<std::mutex> hold(lock);
    --open;
  }

  int SgIo(int, sg_io_hdr& request) override {
    std::lock_guard<std::mutex> hold(lock);
    sent.interfaceId = request.interface_id;
    sent.direction = request.dxfer_direction;
    sent.dataLength = request.dxfer_len;
    sent.data = request.dxferp;
    sent.timeout = request.timeout;
    sent.commandLength = request.cmd_len;
    std::memcpy(sent.command.data(), request.cmdp, std::min<unsigned>(request.cmd_len, 16));
    sent.maxSense = request.mx_sb_len;
    if (answer.error != 0) return answer.error;
    request.status = answer.status;
    request.masked_status = answer.status >> 1;
    request.host_status = answer.hostStatus;
    request.driver_status = answer.driverStatus;
    const std::size_t written = std::min<std::size_t>(answer.sense.size(), request.mx_sb_len);
    if (written != 0) std::memcpy(request.sbp, answer.sense.data(), written);
    request.sb_len_wr = static_cast<unsigned char>(written);
    return 0;
  }

  int GetIdLun(int descriptor, std::uint32_t& idLun) override {
    const Drive& drive = drives.at(static_cast<std::size_t>(descriptor - 100));
    if (drive.addressError == 0) idLun = drive.idLun;
    return drive.addressError;
  }

  int GetBusNumber(int descriptor, int& host) override {
    const Drive& drive = drives.at(static_cast<std::size_t>(descriptor - 100));
    if (drive.addressError == 0) host = drive.host;
    return drive.addressError;
  }

  bool MayReboot() override { return mayReboot; }

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

 private:
  std::mutex lock;
  std::vector<std::string> opened;
  int openFlags = 0;
  int open = 0;
  Sent sent;
  std::vector<std::string> ran;
};

}  // namespace platform
