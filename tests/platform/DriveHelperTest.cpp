// The drive helper over a made-up kernel: a whole exchange, the requests it refuses with an error,
// and the malformed ones that end it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "FakeKernel.h"
#include "ServedHelper.h"
#include "platform/linux/DriveHelper.h"
#include "platform/linux/DriveLockFile.h"
#include "platform/linux/HelperKernel.h"

namespace movrel::test {

using platform::DriveHelper;
using platform::HelperKernel;
using platform::HostKernel;
using platform::LinuxKernel;
using platform::LockDriveFile;
using platform::ScsiAddress;
using platform::StartDriveHelper;
namespace {

using namespace platform::drivehelper;
using ::testing::ElementsAre;

// A request for a drive (Open, Lock) or a handle (Close); an Open is exclusive unless told.
Request Simple(Kind kind, std::uint8_t number = 0, bool exclusive = true) {
  Request request;
  request.kind = kind;
  request.drive = request.handle = number;
  request.exclusive = exclusive;
  return request;
}

Request Command(Direction direction, std::vector<std::uint8_t> command, std::uint32_t length,
                std::vector<std::uint8_t> data = {}, std::uint8_t handle = 2) {
  Request request = Simple(Kind::SgIo, handle);
  request.direction = direction;
  request.commandLength = static_cast<std::uint8_t>(command.size());
  std::copy(command.begin(), command.end(), request.command.begin());
  request.timeoutMilliseconds = 5000;
  request.dataLength = length;
  request.data = std::move(data);
  return request;
}

// The requests' bytes, each tagged with its place.
std::vector<std::uint8_t> Bytes(std::vector<Request> requests) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    requests[i].tag = static_cast<std::uint32_t>(0x5A000000 + i);
    WriteRequest(requests[i], bytes);
  }
  return bytes;
}

class DriveHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // sr0 at 2:0:1:0; sr1 a disk; sr2 a symbolic link planted where the node was; sr3 another
    // node in the node's place.
    for (unsigned n = 0; n < 4; ++n) {
      kernel.drives.push_back({"/dev/sr" + std::to_string(n), 0, n + 1, 2});
      kernel.drives.back().rdev = makedev(11, n);
    }
    kernel.drives[1].scsiType = 0;
    kernel.drives[2].link = true;
    kernel.drives[2].nodeRdev = makedev(8, 0);
    kernel.drives[3].nodeRdev = makedev(8, 0);
  }

  // The replies to `bytes`, given to the helper one byte at a time, each written and read back;
  // nothing when it ended.
  std::optional<std::vector<Reply>> Serve(const std::vector<std::uint8_t>& bytes) {
    std::vector<Request> requests;
    for (const std::uint8_t byte : bytes) {
      if (!helper.Take(std::span(&byte, 1), requests)) return std::nullopt;
    }
    std::vector<Reply> replies;
    for (const Request& request : requests) {
      std::vector<std::uint8_t> out;
      WriteReply(helper.Answer(request), out);
      const auto reply = ReadReply(std::span(out).subspan(4));
      EXPECT_TRUE(reply);
      EXPECT_EQ(reply->tag, request.tag);
      replies.push_back(*reply);
    }
    return replies;
  }

  FakeKernel kernel;
  std::ostringstream notices;
  DriveHelper helper{kernel, notices};
};

// The flasher's own lock serves its exclusive open; handles are told apart and end at their close.
TEST_F(DriveHelperTest, ServesTheDrivesListLockOpenCommandsAndClose) {
  kernel.answer.sense = {0x70, 0, 0x05};
  kernel.answer.resid = 4;
  kernel.answer.dataIn = {0x05, 0x80};
  const auto replies = Serve(
      Bytes({Simple(Kind::List), Simple(Kind::Lock, 0), Simple(Kind::Open, 0),
             Command(Direction::FromDevice, {0x12, 0, 0, 0, 36, 0}, 36),
             Command(Direction::None, {0, 0, 0, 0, 0, 0}, 0),
             Command(Direction::ToDevice, {0x3B, 7}, 2, {0xAA, 0xBB}), Simple(Kind::Open, 0, false),
             Simple(Kind::Close, 2), Command(Direction::None, {0, 0, 0, 0, 0, 0}, 0),
             Command(Direction::None, {0, 0, 0, 0, 0, 0}, 0, {}, 1),  // a lock is no drive
             Simple(Kind::Close, 3), Simple(Kind::Close, 1)}));
  ASSERT_TRUE(replies);
  ASSERT_EQ(replies->size(), 12u);
  EXPECT_THAT(
      (*replies)[0].drives,
      ElementsAre(DriveEntry{0, 2, 0, 1, 0}, DriveEntry{2, 2, 0, 3, 0}, DriveEntry{3, 2, 0, 4, 0}));
  EXPECT_EQ((*replies)[1].handle, 1u);
  EXPECT_EQ((*replies)[2].error, 0u);
  EXPECT_EQ((*replies)[2].handle, 2u);
  ASSERT_EQ((*replies)[3].data.size(), 36u);
  EXPECT_EQ((*replies)[3].data[1], 0x80);
  EXPECT_EQ((*replies)[3].residue, 4);
  EXPECT_THAT((*replies)[3].sense, ElementsAre(0x70, 0, 0x05));
  const FakeKernel::Sent sent = kernel.LastSent();
  EXPECT_EQ(sent.direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(sent.commandLength, 2u);
  EXPECT_EQ(sent.command[1], 7);
  EXPECT_EQ(sent.timeout, 5000u);
  EXPECT_THAT(sent.dataOut, ElementsAre(0xAA, 0xBB));
  EXPECT_EQ((*replies)[6].handle, 3u);
  EXPECT_EQ(kernel.LastOpenFlags(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  EXPECT_EQ((*replies)[7].error, 0u);
  EXPECT_EQ((*replies)[8].error, static_cast<std::uint32_t>(EBADF));  // after its close
  EXPECT_EQ((*replies)[9].error, static_cast<std::uint32_t>(EBADF));
  EXPECT_EQ(kernel.SgIoCount(), 3);
  EXPECT_EQ(kernel.OpenDescriptors(), 0);  // the drive, its other opening and the lock

  std::vector<Request> opens(kMostHandles + 1, Simple(Kind::Open, 0, false));
  const auto many = Serve(Bytes(opens));
  ASSERT_TRUE(many);
  EXPECT_EQ(many->back().error, static_cast<std::uint32_t>(EMFILE));
  EXPECT_EQ(kernel.OpenDescriptors(), static_cast<int>(kMostHandles));
}

// Each refused open is answered and the helper goes on; only another flasher's hold and the
// checks of the node refuse: a lock that cannot be had is told, and the drive opened without it.
TEST_F(DriveHelperTest, OpensOnlyAListedOpticalDriveThatNoOtherFlasherHolds) {
  struct Case {
    const char* what;
    std::uint8_t drive;
    std::function<void(FakeKernel&)> arrange;
    int error;
  };
  const auto holdLock = [](FakeKernel& kernel) {
    int held = -1;
    ASSERT_EQ(LockDriveFile(kernel, ScsiAddress{0, 2, 0, 1, 0}, held), 0);
  };
  const auto othersWrite = [](FakeKernel& kernel) {
    ::mkdir(kernel.Real("/run/movrel").c_str(), 0777);
    ::chmod(kernel.Real("/run/movrel").c_str(), 0777);
  };
  const Case cases[] = {
      {"a number past the list", 9, nullptr, ENODEV},
      {"a disk", 1, nullptr, ENODEV},
      {"a symbolic link planted", 2, nullptr, ELOOP},
      {"another node in its place", 3, nullptr, ENODEV},
      {"another flasher's drive", 0, holdLock, EWOULDBLOCK},
      {"a lock directory that others may write", 0, othersWrite, 0},
  };
  for (const Case& test : cases) {
    FakeKernel fresh;
    fresh.drives = kernel.drives;
    if (test.arrange) test.arrange(fresh);
    std::ostringstream told;
    DriveHelper own(fresh, told);
    EXPECT_EQ(own.Answer(Simple(Kind::Open, test.drive)).error,
              static_cast<std::uint32_t>(test.error))
        << test.what;
    EXPECT_EQ(told.str().find("cannot lock /run/movrel/2:0:1:0") != std::string::npos,
              test.error == 0)
        << test.what;
  }
}

TEST_F(DriveHelperTest, AMalformedRequestEndsTheHelper) {
  const auto sgIo = [](auto change) {
    Request request = Command(Direction::FromDevice, {0x12, 0, 0, 0, 36, 0}, 36);
    change(request);
    return Bytes({request});
  };
  std::vector<std::uint8_t> truncated = Bytes({Simple(Kind::Open)});
  truncated[0] -= 1;
  truncated.pop_back();
  std::vector<std::uint8_t> trailing = Bytes({Simple(Kind::List)});
  trailing[0] += 1;
  trailing.push_back(0);
  const std::vector<std::uint8_t> path = {13,  0,   0,   0,   0,   0,   0,   0,  2,
                                          '/', 'd', 'e', 'v', '/', 's', 'd', 'a'};
  const std::vector<std::uint8_t> oversized = {0x21, 0x00, 0x01, 0x00};  // kLongestRequest + 1
  const std::vector<std::vector<std::uint8_t>> cases = {
      path,
      truncated,
      trailing,
      oversized,
      {5, 0, 0, 0, 0, 0, 0, 0, 9},        // no such request
      {7, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2},  // an open neither exclusive nor shared
      sgIo([](Request& r) { r.commandLength = 17; }),
      sgIo([](Request& r) { r.commandLength = 0; }),
      sgIo([](Request& r) { r.commandLength = 4; }),  // a command byte past its length
      sgIo([](Request& r) { r.dataLength = kLongestData + 1; }),
      sgIo([](Request& r) { r.timeoutMilliseconds = kLongestTimeout + 1; }),
      sgIo([](Request& r) { r.timeoutMilliseconds = 0; }),
      sgIo([](Request& r) { r.direction = Direction::None; }),
      sgIo([](Request& r) { r.direction = Direction{3}; }),
      sgIo([](Request& r) { r.direction = Direction::ToDevice; }),  // its data missing
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    DriveHelper own(kernel, notices);
    std::vector<Request> requests;
    EXPECT_FALSE(own.Take(cases[i], requests)) << "case " << i;
    EXPECT_TRUE(requests.empty()) << "case " << i;
  }
}

// Served over its socket, the helper runs each drive's command on a thread of its own: a command
// that waits for another drive's to end is not waited for, and replies find their requests.
TEST(DriveHelperServeTest, ADrivesLongCommandHoldsUpNoOtherDrive) {
  auto served = std::make_shared<ServedHelper>();
  for (unsigned n = 0; n < 2; ++n) {
    served->kernel.drives.push_back({"/dev/sr" + std::to_string(n), 0, n});
    served->kernel.drives.back().rdev = makedev(11, n);
  }
  std::mutex lock;
  std::condition_variable changed;
  bool otherDone = false, waitedOut = false;
  served->kernel.whileSent = [&](const std::string& drive) {
    std::unique_lock<std::mutex> hold(lock);
    if (drive == "/dev/sr1") {
      otherDone = true;
      changed.notify_all();
    } else if (!changed.wait_for(hold, std::chrono::seconds(20), [&] { return otherDone; })) {
      waitedOut = true;  // the helper ran the commands one after the other
    }
  };
  auto kernel = ServedHelper::Connect(served, std::make_unique<FakeKernel>());
  const int first = kernel->Open("/dev/sr0", O_RDWR), second = kernel->Open("/dev/sr1", O_RDWR);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  const auto send = [&](int descriptor, int& error) {
    std::array<std::uint8_t, 6> command{};
    std::array<std::uint8_t, 32> sense{};
    sg_io_hdr_t request{};
    request.dxfer_direction = SG_DXFER_NONE;
    request.cmd_len = command.size();
    request.cmdp = command.data();
    request.mx_sb_len = sense.size();
    request.sbp = sense.data();
    request.timeout = 1000;
    error = kernel->SgIo(descriptor, request);
  };
  int firstError = -1, secondError = -1;
  std::thread long_(send, first, std::ref(firstError));
  std::thread short_(send, second, std::ref(secondError));
  long_.join();
  short_.join();
  EXPECT_FALSE(waitedOut);
  EXPECT_EQ(firstError, 0);
  EXPECT_EQ(secondError, 0);
}

// The helper started through a stand-in for pkexec, which runs it as the person here: connected
// by its standard input and output, it answers; a pkexec that finds no agent ends at once, and
// the flasher goes on with its own kernel, having named sudo.
TEST(DriveHelperStartTest, AFlasherReachesTheHelperThroughPkexecOrNamesSudo) {
  const FakeKernel folder;
  const std::string agent = folder.Real("/agent"), noAgent = folder.Real("/no-agent");
  std::ofstream(agent) << "#!/bin/sh\n[ \"$#\" = 1 ] || exit 127\nexec \"$1\"\n";
  std::ofstream(noAgent) << "#!/bin/sh\necho 'No authentication agent found.' >&2\nexit 127\n";
  ::chmod(agent.c_str(), 0755);
  ::chmod(noAgent.c_str(), 0755);

  std::ostringstream told;
  auto host = std::make_unique<FakeKernel>();
  auto kernel = StartDriveHelper(std::move(host), agent, MOVREL_BUILT_DRIVE_HELPER, told);
  EXPECT_NE(dynamic_cast<HelperKernel*>(kernel.get()), nullptr) << told.str();
  EXPECT_EQ(kernel->Open("/dev/sr255", O_RDWR), -ENOENT);  // not an optical drive the helper lists
  kernel.reset();
  EXPECT_EQ(told.str().find("sudo"), std::string::npos);

  host = std::make_unique<FakeKernel>();
  LinuxKernel* const second = host.get();
  kernel = StartDriveHelper(std::move(host), noAgent, MOVREL_BUILT_DRIVE_HELPER, told);
  EXPECT_EQ(kernel.get(), second);
  EXPECT_NE(told.str().find("(pkexec ended with status 127); run "), std::string::npos)
      << told.str();
  EXPECT_NE(told.str().find(" with sudo"), std::string::npos);
}

// What the fake answers, the host kernel answers: a node's own type and number, whichever link
// led to it unless O_NOFOLLOW refuses the link, and a sysfs attribute's text with its newline.
TEST(HostKernelTest, DescriptorsTellTheirNodeAndSysfsAttributesTheirText) {
  const auto host = HostKernel();
  const FakeKernel folder;
  const std::string link = folder.Real("/null");
  ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
  EXPECT_EQ(host->Open(link, O_RDONLY | O_CLOEXEC | O_NOFOLLOW), -ELOOP);
  const int descriptor = host->Open(link, O_RDONLY | O_CLOEXEC);
  ::unlink(link.c_str());
  unsigned mode = 0;
  std::uint64_t device = 0;
  ASSERT_EQ(host->DescriptorStatus(descriptor, mode, device), 0);
  host->Close(descriptor);
  EXPECT_TRUE(S_ISCHR(mode));
  EXPECT_EQ(device, makedev(1, 3));
  std::string text;
  ASSERT_EQ(host->ReadAttribute("/sys/class/mem/null/dev", text), 0);
  EXPECT_EQ(text, "1:3\n");
  EXPECT_EQ(host->ReadAttribute("/sys/class/block/sr999/dev", text), ENOENT);
}

}  // namespace
}  // namespace movrel::test
