// Starting movrel-drive-helper for a flasher run by the person: pkexec runs it as root once polkit
// has the administrator's password (action org.movrel.drive-helper), its standard input and
// output one end of a socket pair, the flasher's the other.
//
// pkexec(1) runs the program it is given with a clean environment, its standard streams as they
// were and every other descriptor closed; it asks the session's polkit agent for the password, or
// with a terminal and no agent asks on the terminal itself; it ends with status 127 when no one
// may authorise it (no agent, or not authorised) and 126 when the dialog is dismissed. Either way
// the socket's other end closes before any reply, which is how the flasher learns of it.
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>
#include <string>

#include "platform/linux/HelperKernel.h"

extern char** environ;

namespace movrel::platform {

namespace {

constexpr char kPkexec[] = "/usr/bin/pkexec";
constexpr char kDriveHelper[] = MOVREL_DRIVE_HELPER;

// The helper started through pkexec on `socket` as its standard input and output: its process,
// or -1.
pid_t StartThroughPkexec(const std::string& pkexec, const std::string& helper, int socket) {
  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) return -1;
  ::posix_spawn_file_actions_adddup2(&actions, socket, STDIN_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, socket, STDOUT_FILENO);
  char* arguments[] = {const_cast<char*>(pkexec.c_str()), const_cast<char*>(helper.c_str()),
                       nullptr};
  pid_t child = -1;
  if (::posix_spawn(&child, pkexec.c_str(), &actions, nullptr, arguments, environ) != 0) {
    child = -1;
  }
  ::posix_spawn_file_actions_destroy(&actions);
  return child;
}

// Its exit status; -1 when it did not exit normally.
int WaitFor(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::unique_ptr<LinuxKernel> StartDriveHelper(std::unique_ptr<LinuxKernel> host,
                                              const std::string& pkexec, const std::string& helper,
                                              std::ostream& notices) {
  const std::string name = program_invocation_short_name;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return host;
  notices << name << ": the drives need an administrator's permission; asking for it (pkexec)"
          << std::endl;
  const pid_t child = StartThroughPkexec(pkexec, helper, ends[1]);
  ::close(ends[1]);
  if (child < 0) {
    ::close(ends[0]);
    return host;
  }
  const auto status = std::make_shared<int>(0);
  auto connected = std::make_unique<HelperKernel>(std::move(host), ends[0],
                                                  [child, status] { *status = WaitFor(child); });
  if (connected->Answers()) return connected;
  host = connected->TakeHost();
  connected.reset();  // closes the socket and waits for pkexec
  notices << name
          << ": no administrator's permission to reach the drives (pkexec ended with status "
          << *status << "); run " << name << " with sudo" << std::endl;
  return host;
}

std::unique_ptr<LinuxKernel> FlasherKernel(std::ostream& notices) {
  auto host = HostKernel();
  if (host->MaySendRawCommands() || ::access(kDriveHelper, X_OK) != 0 ||
      ::access(kPkexec, X_OK) != 0) {
    return host;
  }
  return StartDriveHelper(std::move(host), kPkexec, kDriveHelper, notices);
}

}  // namespace movrel::platform
