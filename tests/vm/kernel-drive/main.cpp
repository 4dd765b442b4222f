// movrel-kernel-drive [--program-ms N] BAY TRACE CONTROL
//
// Serves the optical drives of a simulated machine's bay description (the file that
// MOVREL_SIM_BAY names for the simulated flashers) to the kernel's own SCSI layer, through the
// kernel's SCSI target: one user-space device (target_core_user) per drive, each on a LUN of a
// local SCSI host (tcm_loop), in the bay's order. With peripheral type 5 in its INQUIRY reply the
// kernel's sr driver takes each as /dev/srN, so a flasher on the real backend sends its commands
// through SG_IO, the SCSI layer and the target to the same drive model as the simulated flasher.
// Every command the drives receive is appended to TRACE in the simulated machine's format.
//
// CONTROL is a FIFO on which the person at the machine acts, a line each: "take-disc-out
// <drive>", answered with "done: <the line>" once done; "note-flashes" adds to the trace the
// SHA-256 of what each drive's flash memory holds. With --program-ms, a programming command is
// answered N milliseconds after it came, as a drive answers once its flash memory is written. A
// drive whose vanish fault fires has its
// LUN removed, as a drive that is unplugged. SIGTERM or SIGINT removes the LUNs and the devices,
// and ends the program. Lines for the log start with "@@ kernel drive".
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "DriveServer.h"
#include "Loopback.h"
#include "TcmuDevice.h"
#include "TcmuRing.h"
#include "sim/Bay.h"

namespace kerneldrive {
namespace {

void Say(const std::string& text) {
  std::cout << "@@ kernel drive: " << text << std::endl;
}

int Checked(int result, const char* what) {
  if (result < 0) throw std::system_error(errno, std::generic_category(), what);
  return result;
}

// The drives' rings, served on a thread of their own so that the kernel's commands are answered
// while the main thread links or unlinks a LUN (which waits for them).
class RingServer {
 public:
  RingServer(DriveServer& drives, std::vector<std::unique_ptr<TcmuDevice>>& devices)
      : drives(drives), devices(devices) {
    for (const auto& device : devices) rings.emplace_back(device->Region(), device->Size());
    reported.assign(devices.size(), false);
    int pipe[2];
    Checked(::pipe2(pipe, O_CLOEXEC), "pipe");
    gone = pipe[0];
    goneWriter = pipe[1];
    thread = std::thread([this] { Run(); });
  }
  ~RingServer() {
    const std::uint64_t one = 1;
    if (::write(stop, &one, sizeof one) == sizeof one) thread.join();
    ::close(stop);
    ::close(gone);
    ::close(goneWriter);
  }

  // Readable when a drive has vanished: one byte, its index.
  int Gone() const { return gone; }

 private:
  void Run() {
    try {
      Serve();
    } catch (const std::exception& error) {
      Say(std::string("serving failed: ") + error.what());
      std::_Exit(1);
    }
  }

  void Serve() {
    std::vector<pollfd> waits(devices.size() + 1);
    for (std::size_t drive = 0; drive < devices.size(); ++drive) {
      waits[drive] = pollfd{devices[drive]->Descriptor(), POLLIN, 0};
    }
    waits.back() = pollfd{stop, POLLIN, 0};
    for (;;) {
      if (::poll(waits.data(), waits.size(), -1) < 0 && errno != EINTR) Checked(-1, "poll");
      if (waits.back().revents != 0) return;
      for (std::size_t drive = 0; drive < devices.size(); ++drive) {
        if (waits[drive].revents == 0) continue;
        devices[drive]->TakeSignal();
        const auto execute = [&](const RingCommand& command) {
          return drives.Execute(drive, command);
        };
        if (rings[drive].Serve(execute) != 0) devices[drive]->Signal();
        if (drives.Vanished(drive) && !reported[drive]) {
          reported[drive] = true;
          const auto index = static_cast<std::uint8_t>(drive);
          Checked(static_cast<int>(::write(goneWriter, &index, 1)), "write");
        }
      }
    }
  }

  DriveServer& drives;
  std::vector<std::unique_ptr<TcmuDevice>>& devices;
  std::vector<Ring> rings;
  std::vector<bool> reported;
  int stop = Checked(::eventfd(0, EFD_CLOEXEC), "eventfd");
  int gone = -1;
  int goneWriter = -1;
  std::thread thread;
};

// One line of the control FIFO.
void Act(DriveServer& drives, const std::string& line) {
  const std::string takeDiscOut = "take-disc-out ";
  if (line.rfind(takeDiscOut, 0) == 0) {
    const std::string name = line.substr(takeDiscOut.size());
    drives.TakeDiscOut(name);
    Say("done: " + line);
  } else if (line == "note-flashes") {
    drives.NoteFlashes();
    Say("done: " + line);
  } else {
    Say("no such action: " + line);
  }
}

int Serve(const std::string& bayPath, const std::string& tracePath, const std::string& control,
          std::chrono::milliseconds programTime) {
  const movrel::sim::BayConfig bay = movrel::sim::LoadBay(bayPath);
  CheckServable(bay);
  const int trace =
      Checked(::open(tracePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644),
              tracePath.c_str());
  const int actions =
      Checked(::open(control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC), control.c_str());
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  Checked(::pthread_sigmask(SIG_BLOCK, &ending, nullptr), "sigprocmask");
  const int signals = Checked(::signalfd(-1, &ending, SFD_CLOEXEC), "signalfd");

  DriveServer drives(bay, trace, programTime);
  std::vector<std::unique_ptr<TcmuDevice>> devices;
  for (std::size_t drive = 0; drive < drives.Count(); ++drive) {
    devices.push_back(std::make_unique<TcmuDevice>(drives.Name(drive)));
  }
  auto server = std::make_unique<RingServer>(drives, devices);
  auto loopback = std::make_unique<Loopback>();
  std::string names;
  for (std::size_t drive = 0; drive < devices.size(); ++drive) {
    loopback->AddLun(static_cast<int>(drive), devices[drive]->Path());
    names += " " + drives.Name(drive);
  }
  Say("serves" + names);

  std::string pending;
  for (bool ending = false; !ending;) {
    pollfd waits[] = {{signals, POLLIN, 0}, {actions, POLLIN, 0}, {server->Gone(), POLLIN, 0}};
    if (::poll(waits, 3, -1) < 0 && errno != EINTR) Checked(-1, "poll");
    ending = waits[0].revents != 0;
    if (waits[1].revents != 0) {
      char chunk[256];
      const ssize_t count = ::read(actions, chunk, sizeof chunk);
      if (count > 0) pending.append(chunk, static_cast<std::size_t>(count));
      for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        Act(drives, pending.substr(0, end));
        pending.erase(0, end + 1);
      }
    }
    if (waits[2].revents != 0) {
      std::uint8_t drive;
      Checked(static_cast<int>(::read(server->Gone(), &drive, 1)), "read");
      loopback->RemoveLun(drive);
      Say(drives.Name(drive) + " is gone: its LUN is removed");
    }
  }
  loopback.reset();  // while the rings are still served
  server.reset();
  devices.clear();
  Say("ended");
  return 0;
}

}  // namespace
}  // namespace kerneldrive

int main(int argc, char** argv) {
  std::chrono::milliseconds programTime{0};
  if (argc == 6 && std::string(argv[1]) == "--program-ms") {
    programTime = std::chrono::milliseconds(std::strtoul(argv[2], nullptr, 10));
    argv += 2;
    argc -= 2;
  }
  if (argc != 4) {
    std::cerr << "usage: movrel-kernel-drive [--program-ms N] BAY TRACE CONTROL\n";
    return 2;
  }
  try {
    return kerneldrive::Serve(argv[1], argv[2], argv[3], programTime);
  } catch (const std::exception& error) {
    std::cerr << "movrel-kernel-drive: " << error.what() << '\n';
    return 1;
  }
}
