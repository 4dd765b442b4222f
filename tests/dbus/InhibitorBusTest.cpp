// The Linux backend's inhibitor against a login manager made up by python-dbusmock's logind
// template, on a private bus that stands as the system bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/LinuxKernel.h"
#include "platform/linux/LinuxSystem.h"

extern char** environ;

namespace movrel::test {

namespace {

using namespace platform;

constexpr char kReason[] = "Drive firmware update in progress";

// A program started in the background, its standard output on a pipe; ended with the test.
struct Child {
  pid_t pid = -1;
  int output = -1;
  explicit Child(std::vector<std::string> command) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    std::vector<char*> arguments;
    for (std::string& argument : command) arguments.push_back(argument.data());
    arguments.push_back(nullptr);
    if (::posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environ) != 0) {
      pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    output = pipeEnds[0];
  }
  ~Child() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
    if (output >= 0) ::close(output);
  }
  std::string Line() const {
    std::string line;
    char c = 0;
    while (::read(output, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
};

// The inhibitors the login manager holds, one "what who why mode" each; false when it does not
// answer.
bool ListInhibitors(std::vector<std::string>& listed) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return false;
  sd_bus_message* reply = nullptr;
  bool answered = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "ListInhibitors", nullptr,
                                     &reply, "") >= 0;
  listed.clear();
  if (answered && sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
    const char *what, *who, *why, *mode;
    std::uint32_t uid, pid;
    while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
      listed.push_back(std::string(what) + " " + who + " " + why + " " + mode);
    }
  }
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return answered;
}

TEST(InhibitorBus, HeldWhileAwakeAndWithoutALoginManagerToldOnce) {
  Child bus({DBUS_DAEMON, "--session", "--nofork", "--print-address"});
  const std::string address = bus.Line();
  ASSERT_FALSE(address.empty());
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);

  // A bus without a login manager: one line, and the run goes on.
  std::ostringstream notices;
  LinuxSystem machine(HostKernel(), notices);
  EXPECT_FALSE(machine.HoldSystemAwake(kReason));
  EXPECT_FALSE(machine.HoldSystemAwake(kReason));
  EXPECT_THAT(notices.str(), ::testing::MatchesRegex("[^\n]*no login manager[^\n]*\n"));

  Child logind({SYSTEM_PYTHON, "-m", "dbusmock", "--system", "--template", "logind"});
  std::vector<std::string> listed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!ListInhibitors(listed) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(ListInhibitors(listed)) << "the mocked login manager did not come up";
  EXPECT_TRUE(listed.empty());

  EXPECT_TRUE(machine.HoldSystemAwake(kReason));
  ASSERT_TRUE(ListInhibitors(listed));
  EXPECT_THAT(listed, ::testing::ElementsAre("shutdown:sleep:idle:handle-power-key:handle-suspend-"
                                             "key Movrel Drive firmware update in progress block"));
  EXPECT_TRUE(machine.ReleaseSystemAwake());
  // The login manager sees the descriptor close; give it the moment it takes to notice.
  for (int i = 0; i < 200 && ListInhibitors(listed) && !listed.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(listed.empty());
}

}  // namespace
}  // namespace movrel::test
