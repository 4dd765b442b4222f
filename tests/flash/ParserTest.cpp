// The flash worker: its verdict in the device's flash status, the termination handler in the
// window's thread, and several workers at once on drives of their own.
#include "flash/Parser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifdef __GLIBC__
#include <pthread.h>
#endif

#include <memory>
#include <stdexcept>
#include <vector>

#include "FlashMachine.h"
#include "platform/ThreadId.h"

namespace movrel::test {

using device::AtapiDevice;
using flash::FlashRequest;
using flash::kFlashFailed;
using flash::Parser;
namespace {

constexpr std::int32_t kOneMiB = 1 << 20;

// What a termination handler saw, in the window's thread.
struct Finished {
  int count = 0;
  std::vector<platform::ThreadId> threads;
  std::vector<std::uint8_t> statuses;
  std::vector<void*> owners;
};

// Starts one worker for `device` and records its end in `finished`.
void StartWorker(platform::Application& application, AtapiDevice& device,
                 const std::vector<std::uint8_t>& image, std::int32_t imageLength,
                 std::uint8_t bootCode, Finished& finished) {
  FlashRequest request{};
  request.device = &device;
  request.image = image.data();
  request.imageLength = imageLength;
  request.bootCode = bootCode;
  request.owner = &finished;
  new Parser(application, request, [&finished](platform::Thread& sender) {
    auto& parser = static_cast<Parser&>(sender);
    ++finished.count;
    finished.threads.push_back(platform::CurrentThreadId());
    finished.statuses.push_back(parser.device->FlashStatus());
    finished.owners.push_back(parser.request.owner);
  });
}

// One drive, one worker, run to its end.
struct OneWorker {
  explicit OneWorker(const sim::DriveConfig& drive, std::int32_t imageLength = kOneMiB)
      : machine(Bay({drive})), image(kOneMiB, 0x3D) {
    machine.device.SetFlashStatus(7);
    StartWorker(machine.application, machine.device, image, imageLength, 0, finished);
    ended = PumpUntil(machine.application, [this] { return finished.count == 1; });
  }

  test::FlashMachine machine;
  std::vector<std::uint8_t> image;
  Finished finished;
  bool ended = false;
};

TEST(Parser, SuccessfulRunLeavesStatusZeroAndStrictModeOn) {
  OneWorker worker(Drive('D', {1, 0, 0, 0}));
  ASSERT_TRUE(worker.ended);
  EXPECT_EQ(worker.finished.statuses, std::vector<std::uint8_t>{0});
  EXPECT_EQ(worker.finished.threads[0], platform::CurrentThreadId());
  EXPECT_EQ(worker.finished.owners[0], &worker.finished);
  EXPECT_TRUE(worker.machine.device.ThrowOnFailure());
  EXPECT_THAT(worker.machine.system.Trace(),
              ::testing::Contains("D 3B 05 01 00 00 00 00 00 00 80 00 00 none 0 good"));
}

TEST(Parser, FailedTransferEndsAsFailureWithoutProgramming) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  sim::Fault fault;
  fault.command = 0x3C;
  fault.kind = sim::FaultKind::Corrupt;
  drive.faults.push_back(fault);
  OneWorker worker(drive);
  ASSERT_TRUE(worker.ended);
  EXPECT_EQ(worker.finished.statuses, std::vector<std::uint8_t>{kFlashFailed});
  for (const std::string& line : test::CommandsWithCode(worker.machine.system.Trace(), 0x3B)) {
    EXPECT_EQ(line.find(" 80 00 00 none"), std::string::npos) << line;
  }
}

TEST(Parser, FailedProgrammingCommandEndsAsFailure) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  sim::Fault fault;
  fault.command = 0x3B;
  fault.control = 0x80;
  drive.faults.push_back(fault);
  OneWorker worker(drive);
  ASSERT_TRUE(worker.ended);
  EXPECT_EQ(worker.finished.statuses, std::vector<std::uint8_t>{kFlashFailed});
}

TEST(Parser, UnusableImageEndsAsFailureAndTheDriveReceivesNothing) {
  OneWorker worker(Drive('D', {1, 0, 0, 0}), kOneMiB - 1);
  ASSERT_TRUE(worker.ended);
  EXPECT_EQ(worker.finished.statuses, std::vector<std::uint8_t>{kFlashFailed});
  EXPECT_TRUE(worker.machine.system.Trace().empty());
}

// A machine whose pass-through throws once armed: an exception that is no ErrCodeException.
class ThrowingSystem : public sim::SimSystem {
 public:
  using SimSystem::SimSystem;
  bool DeviceIoControl(platform::Handle device, std::uint32_t code, void* in, std::uint32_t inSize,
                       void* out, std::uint32_t outSize, std::uint32_t* returned) override {
    if (armed && code == platform::ioctl::ScsiPassThroughDirect) {
      throw std::runtime_error("pass-through broke");
    }
    return SimSystem::DeviceIoControl(device, code, in, inSize, out, outSize, returned);
  }
  bool armed = false;
};

TEST(Parser, AnyOtherExceptionEndsAsFailureNeverAsSuccess) {
  ThrowingSystem system(Bay({Drive('D', {1, 0, 0, 0})}));
  test::QuietApplication application;
  AtapiDevice device(system, application);
  ASSERT_TRUE(device.SelectDrive(0));
  system.armed = true;
  const std::vector<std::uint8_t> image(kOneMiB, 0x11);
  Finished finished;
  StartWorker(application, device, image, kOneMiB, 0, finished);
  ASSERT_TRUE(PumpUntil(application, [&] { return finished.count == 1; }));
  EXPECT_EQ(finished.statuses, std::vector<std::uint8_t>{kFlashFailed});
}

#ifdef __GLIBC__
// A worker the system cannot start (here no room for its thread's stack) fails its drive's run,
// which still ends through its termination handler in the window's thread; the drive is sent
// nothing.
TEST(Parser, WorkerThatCannotStartFailsItsDrive) {
  test::FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  const std::size_t commandsBefore = machine.system.Trace().size();
  const std::vector<std::uint8_t> image(kOneMiB, 0x3D);
  Finished finished;
  pthread_attr_t saved, unstartable;
  ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
  pthread_attr_init(&unstartable);
  pthread_attr_setstacksize(&unstartable, std::size_t{1} << 46);
  ASSERT_EQ(pthread_setattr_default_np(&unstartable), 0);
  StartWorker(machine.application, machine.device, image, kOneMiB, 0, finished);
  pthread_setattr_default_np(&saved);
  ASSERT_TRUE(PumpUntil(machine.application, [&] { return finished.count == 1; }));
  EXPECT_EQ(finished.statuses, std::vector<std::uint8_t>{kFlashFailed});
  EXPECT_EQ(machine.system.Trace().size(), commandsBefore);
}
#endif

TEST(Parser, SeveralWorkersAtOnceEachLeaveTheirOwnResult) {
  sim::DriveConfig failing = Drive('E', {1, 0, 1, 0});
  sim::Fault fault;
  fault.command = 0x3C;
  fault.kind = sim::FaultKind::Corrupt;
  failing.faults.push_back(fault);
  test::FlashMachine machine(Bay(
      {Drive('D', {1, 0, 0, 0}), failing, Drive('F', {1, 0, 2, 0}, FlashId{0x01, 0x37, 0, 6})}));
  ASSERT_EQ(machine.device.DriveCount(), 3);

  std::vector<std::unique_ptr<AtapiDevice>> devices;
  for (std::int16_t index = 0; index < 3; ++index) {
    devices.push_back(std::make_unique<AtapiDevice>(machine.system, machine.application, false));
    machine.device.CopyTargetTo(devices.back().get());
    ASSERT_TRUE(devices.back()->SelectDrive(index));
  }
  const std::vector<std::uint8_t> image(kOneMiB, 0x4E);
  Finished finished[3];
  for (int i = 0; i < 3; ++i) {
    StartWorker(machine.application, *devices[i], image, kOneMiB, i == 2 ? 1 : 0, finished[i]);
  }
  ASSERT_TRUE(PumpUntil(machine.application, [&] {
    return finished[0].count + finished[1].count + finished[2].count == 3;
  }));

  for (const Finished& one : finished) {
    ASSERT_EQ(one.count, 1);
    EXPECT_EQ(one.threads[0], platform::CurrentThreadId());
  }
  EXPECT_EQ(finished[0].statuses[0], 0);
  EXPECT_EQ(finished[1].statuses[0], kFlashFailed);
  EXPECT_EQ(finished[2].statuses[0], 0);
  EXPECT_EQ(devices[0]->FlashStatus(), 0);
  EXPECT_EQ(devices[1]->FlashStatus(), kFlashFailed);
  EXPECT_EQ(devices[2]->FlashStatus(), 0);

  const std::vector<std::string> trace = machine.system.Trace();
  int programmed = 0;
  for (const std::string& line : test::CommandsWithCode(trace, 0x3B)) {
    if (line.find(" 00 00 none 0 good") != std::string::npos) ++programmed;
  }
  EXPECT_EQ(programmed, 2);
}

}  // namespace
}  // namespace movrel::test
