// The journal record's real call, sd_journal_sendv, against a datagram socket at the journal's
// own address: in a child process with a mount namespace of its own, a fresh /run holds the
// socket, so the machine's journal never sees the test. Needs CAP_SYS_ADMIN (root); skipped
// without it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/linux/SystemManager.h"

namespace movrel::test {

namespace {

using platform::systemmanager::JournalPresent;
using platform::systemmanager::JournalSend;

constexpr int kNoNamespace = 77;

// What the child saw: the datagram the journal received, and JournalSend's results without a
// journal, with a socket path that refuses, and with the journal.
struct Seen {
  int status = -1;
  std::string datagram;
  int sent = -1, sentWithoutJournal = -1, sentRefused = 0;
  bool presentBefore = true, presentAfter = false;
};

[[noreturn]] void InChild(int report) {
  if (::unshare(CLONE_NEWNS) != 0 ||
      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
    ::_exit(kNoNamespace);
  }
  int results[5];
  results[0] = JournalSend({"MESSAGE=nobody listens"});
  results[1] = JournalPresent() ? 1 : 0;
  ::mkdir("/run/systemd", 0755);
  ::mkdir("/run/systemd/journal", 0755);
  ::close(::creat("/run/systemd/journal/socket", 0644));  // a path that is no socket
  results[4] = JournalSend({"MESSAGE=refused"});
  ::unlink("/run/systemd/journal/socket");
  const int journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string("/run/systemd/journal/socket").copy(address.sun_path, sizeof address.sun_path - 1);
  if (::bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(1);
  results[2] = JournalPresent() ? 1 : 0;
  results[3] =
      JournalSend({"MESSAGE=Drive firmware update", "MOVREL_DEVICE=/dev/sr0",
                   "MOVREL_RESULT=success", "SYSLOG_IDENTIFIER=Movrel", "MOVREL_VENDOR=VEN\nDOR"});
  char datagram[4096];
  const ssize_t received = ::recv(journal, datagram, sizeof datagram, MSG_DONTWAIT);
  if (::write(report, results, sizeof results) != sizeof results) ::_exit(1);
  if (received > 0 && ::write(report, datagram, static_cast<std::size_t>(received)) != received) {
    ::_exit(1);
  }
  ::_exit(0);
}

Seen RunInOwnNamespace() {
  int ends[2];
  Seen seen;
  if (::pipe(ends) != 0) return seen;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    InChild(ends[1]);
  }
  ::close(ends[1]);
  int results[5];
  if (::read(ends[0], results, sizeof results) == sizeof results) {
    seen.sentRefused = results[4];
    seen.sentWithoutJournal = results[0];
    seen.presentBefore = results[1] != 0;
    seen.presentAfter = results[2] != 0;
    seen.sent = results[3];
    char buffer[4096];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
      seen.datagram.append(buffer, n);
  }
  ::close(ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  seen.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return seen;
}

TEST(JournalSocket, TheRecordArrivesWithEveryFieldAndAMissingJournalIsAnError) {
  const Seen seen = RunInOwnNamespace();
  if (seen.status == kNoNamespace) GTEST_SKIP() << "no mount namespace of our own (not root)";
  ASSERT_EQ(seen.status, 0);
  EXPECT_FALSE(seen.presentBefore);
  EXPECT_EQ(seen.sentWithoutJournal, 0);  // the library drops a record nobody can take
  EXPECT_EQ(seen.sentRefused, ECONNREFUSED);
  EXPECT_TRUE(seen.presentAfter);
  EXPECT_EQ(seen.sent, 0);
  // Each field a line, in order; a value with a line feed as its length and bytes. The library
  // may add where in the code the call is.
  const std::string expected =
      "MESSAGE=Drive firmware update\nMOVREL_DEVICE=/dev/sr0\nMOVREL_RESULT=success\n"
      "SYSLOG_IDENTIFIER=Movrel\nMOVREL_VENDOR\n" +
      std::string("\x07\0\0\0\0\0\0\0", 8) + "VEN\nDOR\n";
  EXPECT_TRUE(seen.datagram.starts_with(expected)) << seen.datagram;
}

}  // namespace
}  // namespace movrel::test
