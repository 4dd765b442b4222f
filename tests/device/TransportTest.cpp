// ExecuteCommand: the request blocks of both paths field by field, the classification of outcomes,
// the single retry in strict mode, and the mended failure cases of the ASPI path.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

#include "DeviceFixture.h"
#include "platform/PassThrough.h"

namespace movrel::test {
namespace {

using device::CommandBlock;
using device::DataDirection;

constexpr CommandBlock kCommand{0x12, 0x01, 0x02, 0x03, 0x04, 0x05,
                                0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};

// --- Request blocks ------------------------------------------------------------------------------

// The pass-through request the device sent last, read as the system reads it.
platform::ScsiExchange LastPassThrough(const device::AtapiDevice& device) {
  const platform::PassThroughRequest& request = device.PassThroughBlock();
  platform::ScsiExchange exchange;
  EXPECT_TRUE(platform::ReadPassThrough(&request, sizeof request, sizeof request, exchange));
  return exchange;
}

TEST(PassThroughRequest, IsFilledFieldByField) {
  SelectedDevice bay(Path::PassThrough);
  bay.device->SetCommandTimeout(77);
  bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 96);

  const platform::ScsiExchange request = LastPassThrough(*bay.device);
  EXPECT_EQ(request.pathId, 1);  // the port number, not the path id
  EXPECT_EQ(request.targetId, 2);
  EXPECT_EQ(request.lun, 0);  // always logical unit 0
  EXPECT_EQ(request.cdbLength, 12);
  EXPECT_EQ(request.senseLength, 24);
  // The offset names the sense area where it really lies in the request.
  EXPECT_EQ(request.senseOffset, offsetof(platform::PassThroughRequest, senseArea));
  EXPECT_EQ(request.direction, platform::ScsiDataDirection::In);
  EXPECT_EQ(request.timeoutSeconds, 77u);
  EXPECT_EQ(bay.machine.sent.back().length, 96u);
  EXPECT_EQ(bay.machine.sent.back().timeoutSeconds, 77u);
  EXPECT_EQ(request.data, bay.device->InBuffer());
  for (int i = 0; i < 12; ++i) EXPECT_EQ(request.cdb[i], kCommand[i]) << i;
}

TEST(AspiRequest, IsFilledFieldByField) {
  SelectedDevice bay(Path::Aspi);
  bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 96);

  const platform::SrbExecScsiCmd& request = bay.device->AspiBlock();
  EXPECT_EQ(request.SRB_Cmd, 0x02);
  EXPECT_EQ(request.SRB_HaId, 1);
  EXPECT_EQ(request.SRB_Flags, 0x08 | 0x40);  // data in, event notification
  EXPECT_EQ(request.SRB_Target, 2);
  EXPECT_EQ(request.SRB_Lun, 3);
  EXPECT_EQ(request.SRB_BufLen, 96u);
  EXPECT_EQ(request.SRB_BufPointer, bay.device->InBuffer());
  EXPECT_EQ(request.SRB_SenseLen, 14);
  EXPECT_EQ(request.SRB_CDBLen, 12);
  const void* postProc = request.SRB_PostProc;  // a packed field: read it by value
  EXPECT_NE(postProc, nullptr);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(request.CDBByte[i], kCommand[i]) << i;
  for (int i = 12; i < 16; ++i) EXPECT_EQ(request.CDBByte[i], 0) << i;
}

TEST(AspiRequest, DirectionFlags) {
  SelectedDevice bay(Path::Aspi);
  const platform::SrbExecScsiCmd& request = bay.device->AspiBlock();
  bay.device->ExecuteCommand(kCommand, DataDirection::ToDrive, 16);
  EXPECT_EQ(request.SRB_Flags, 0x10 | 0x40);
  EXPECT_EQ(request.SRB_BufPointer, bay.device->OutBuffer());
  bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0);
  EXPECT_EQ(request.SRB_Flags, 0x40);
}

TEST(BufferRule, DataOutUsesOutBufferAndNoDataOrZeroLengthCarriesNone) {
  SelectedDevice bay(Path::PassThrough);
  bay.device->ExecuteCommand(kCommand, DataDirection::ToDrive, 16384);
  EXPECT_EQ(LastPassThrough(*bay.device).direction, platform::ScsiDataDirection::Out);
  EXPECT_EQ(LastPassThrough(*bay.device).data, bay.device->OutBuffer());
  bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 0);
  EXPECT_EQ(LastPassThrough(*bay.device).data, nullptr);
  // A length without a buffer is a request the system refuses before the drive sees it.
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 5));
  EXPECT_EQ(bay.machine.GetLastError(), 87u);  // ERROR_INVALID_PARAMETER
  EXPECT_EQ(bay.Attempts(), 2u);
}

// --- Classification ------------------------------------------------------------------------------

struct Outcome {
  const char* name;
  Answer first;
  Answer second;
  bool strict;
  bool result;
  std::uint8_t lastResult;
  std::size_t attempts;
};

class Classification : public ::testing::TestWithParam<std::tuple<Path, Outcome>> {};

TEST_P(Classification, GivesResultOutcomeAndAttempts) {
  const auto& [path, outcome] = GetParam();
  SelectedDevice bay(path);
  bay.device->SetCommandTimeout(2);
  if (outcome.strict) bay.device->SetThrowOnFailure();
  bay.machine.answers = {outcome.first, outcome.second};
  EXPECT_EQ(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0), outcome.result);
  EXPECT_EQ(bay.device->LastResult(), outcome.lastResult);
  EXPECT_EQ(bay.Attempts(), outcome.attempts);
  // The duration is that of the last attempt as the drive took it, and only a longer one than
  // the time-out times out.
  const Answer& last = outcome.attempts == 2 ? outcome.second : outcome.first;
  EXPECT_DOUBLE_EQ(bay.device->LastDuration(), last.milliseconds / 1000.0);
  EXPECT_EQ(bay.device->LastTimedOut(), last.milliseconds > 2000);
  if (outcome.lastResult == 2) {
    EXPECT_TRUE(bay.device->SenseIs(last.senseKey, last.asc));
  }
}

Answer DescriptorSense(std::uint8_t key, std::uint8_t asc) {
  Answer answer = Sense(key, asc);
  answer.descriptorSense = true;
  return answer;
}

const Outcome kOutcomes[] = {
    {"Good", Answer{}, Answer{}, false, true, 1, 1},
    {"SenseData", Sense(2, 0x3A), Answer{}, false, false, 2, 1},
    {"SenseDataStrictNotRetried", Sense(2, 0x3A), Answer{}, true, false, 2, 1},
    {"DescriptorSenseData", DescriptorSense(5, 0x20), Answer{}, true, false, 2, 1},
    {"Failed", Failed(), Answer{}, false, false, 0, 1},
    {"FailedStrictRetriedOnce", Failed(), Failed(), true, false, 0, 2},
    {"FailedStrictThenGood", Failed(), Answer{}, true, true, 1, 2},
    {"GoodButTimedOut", Taking(2500), Answer{}, false, false, 0, 1},
    {"GoodButTimedOutStrictNotRetried", Taking(2500), Answer{}, true, false, 0, 1},
    {"GoodWithinTimeOut", Taking(1500), Answer{}, true, true, 1, 1},
    {"GoodTakingExactlyTheTimeOut", Taking(2000), Answer{}, true, true, 1, 1},
};

INSTANTIATE_TEST_SUITE_P(BothPaths, Classification,
                         ::testing::Combine(::testing::Values(Path::PassThrough, Path::Aspi),
                                            ::testing::ValuesIn(kOutcomes)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) == Path::Aspi
                                                  ? "Aspi"
                                                  : "PassThrough") +
                                  std::get<1>(info.param).name;
                         });

TEST(Classification, SenseFieldsComeFromTheLastReplyOnly) {
  SelectedDevice bay(Path::PassThrough);
  bay.machine.answers = {Sense(2, 0x3A, 0x01), Answer{}};
  bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0);
  EXPECT_EQ(bay.device->SenseKey(), 2);
  EXPECT_EQ(bay.device->Asc(), 0x3A);
  EXPECT_TRUE(bay.device->SenseIs(2, 0x3A));
  bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0);
  EXPECT_EQ(bay.device->SenseKey(), 0);
  EXPECT_EQ(bay.device->Asc(), 0);
}

TEST(Classification, AspiErrorStatusWithSenseKeyIsSenseData) {
  SelectedDevice bay(Path::Aspi);
  bay.device->SetThrowOnFailure();
  bay.machine.answers = {Sense(5, 0x24)};
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(bay.device->LastResult(), 2);
  EXPECT_TRUE(bay.device->SenseKeyIs(5));
  EXPECT_EQ(bay.Attempts(), 1u);
}

TEST(Classification, EachAttemptIsTimedAlone) {
  SelectedDevice bay(Path::PassThrough);
  bay.device->SetThrowOnFailure();
  Answer slowFailure = Failed();
  slowFailure.milliseconds = 1500;
  bay.machine.answers = {slowFailure, Taking(500)};
  EXPECT_TRUE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_NEAR(bay.device->LastDuration(), 0.5, 0.001);
  EXPECT_FALSE(bay.device->LastTimedOut());
}

// --- Short replies and lengths past the buffers --------------------------------------------------

// One data-in command through the pass-through, answered with `moved` of its bytes.
struct Reply {
  const char* name;
  std::uint8_t operationCode;
  DataDirection direction;
  std::uint32_t length;
  std::optional<std::uint32_t> moved;  // absent: every byte
  bool result;
};

TEST(ShortReply, FailsUnlessTheLengthIsAnAllocationLength) {
  const Reply replies[] = {
      {"read buffer, whole", 0x3C, DataDirection::FromDrive, 16384, std::nullopt, true},
      {"read buffer, one byte short", 0x3C, DataDirection::FromDrive, 16384, 16383, false},
      {"read buffer, empty", 0x3C, DataDirection::FromDrive, 16384, 0, false},
      {"flash identity, four bytes", 0xDF, DataDirection::FromDrive, 128, 4, false},
      {"inquiry, the standard 36 bytes", 0x12, DataDirection::FromDrive, 96, 36, true},
      {"event status, the header alone", 0x4A, DataDirection::FromDrive, 8, 4, true},
      {"write buffer, taken in part", 0x3B, DataDirection::ToDrive, 16384, 0, true},
  };
  for (const Reply& reply : replies) {
    SelectedDevice bay(Path::PassThrough);
    Answer answer;
    answer.transferred = reply.moved;
    bay.machine.answers = {answer};
    CommandBlock command = kCommand;
    command[0] = reply.operationCode;
    EXPECT_EQ(bay.device->ExecuteCommand(command, reply.direction, reply.length), reply.result)
        << reply.name;
    EXPECT_EQ(bay.device->LastResult(), reply.result ? 1 : 0) << reply.name;
    EXPECT_EQ(bay.device->SenseKey(), 0) << reply.name;
  }
}

TEST(ShortReply, StrictRetryAsksForTheWholeLengthAgain) {
  SelectedDevice bay(Path::PassThrough);
  bay.device->SetThrowOnFailure();
  Answer empty;
  empty.transferred = 0;
  bay.machine.answers = {empty, Answer{}};
  CommandBlock command = kCommand;
  command[0] = 0x3C;
  EXPECT_TRUE(bay.device->ExecuteCommand(command, DataDirection::FromDrive, 16384));
  ASSERT_EQ(bay.Attempts(), 2u);
  EXPECT_EQ(bay.machine.sent[1].length, 16384u);
}

TEST(BufferLength, LongerTransfersAreRefusedBeforeAnyCommand) {
  SelectedDevice bay(Path::PassThrough);
  for (const DataDirection direction :
       {DataDirection::FromDrive, DataDirection::ToDrive, DataDirection::NoData}) {
    bay.machine.answers = {Sense(2, 0x3A)};
    bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0);
    EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, direction, 65537));
    EXPECT_EQ(bay.device->LastResult(), 0);
    EXPECT_EQ(bay.device->SenseKey(), 0);
    EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, direction, 0xFFFFFFFF));
  }
  EXPECT_EQ(bay.Attempts(), 3u);
  EXPECT_TRUE(bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 65536));
  EXPECT_EQ(bay.Attempts(), 4u);
}

// --- No current target ---------------------------------------------------------------------------

TEST(NoTarget, StrictPassThroughReturnsAtOnceAndChangesNothing) {
  SelectedDevice bay(Path::PassThrough);
  bay.machine.answers = {Sense(2, 0x3A)};
  bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0);
  bay.device->CloseDrive();
  bay.device->SetThrowOnFailure();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(bay.Attempts(), 1u);
  EXPECT_EQ(bay.device->LastResult(), 2);
  EXPECT_TRUE(bay.device->SenseIs(2, 0x3A));
}

TEST(NoTarget, PassThroughOutsideStrictModeFailsOnTheInvalidHandle) {
  SelectedDevice bay(Path::PassThrough);
  bay.machine.answers = {Sense(2, 0x3A)};
  bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0);
  bay.device->CloseDrive();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(bay.machine.GetLastError(), 6u);  // ERROR_INVALID_HANDLE: the call was made
  EXPECT_EQ(bay.Attempts(), 1u);
  EXPECT_EQ(bay.device->LastResult(), 0);
  EXPECT_EQ(bay.device->SenseKey(), 0);
  EXPECT_EQ(bay.device->Asc(), 0);
}

TEST(NoTarget, StrictAspiReturnsAtOnceAndOtherwisePostsToAdapterAndTargetFF) {
  SelectedDevice bay(Path::Aspi);
  bay.device->CloseDrive();
  bay.device->SetThrowOnFailure();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(bay.Attempts(), 0u);
  bay.device->ClearThrowOnFailure();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(bay.device->AspiBlock().SRB_HaId, 0xFF);
  EXPECT_EQ(bay.device->AspiBlock().SRB_Target, 0xFF);
  EXPECT_EQ(bay.device->AspiBlock().SRB_Status, platform::SS_INVALID_HA);
}

// --- The ASPI wait, the poll, and requests that stay pending -------------------------------------

Answer Late() {
  Answer answer;
  answer.late = true;
  return answer;
}

TEST(AspiPending, IsAbortedAfterTheTimeOutAndFails) {
  SelectedDevice bay(Path::Aspi);
  bay.device->SetCommandTimeout(5);
  bay.device->SetThrowOnFailure();
  bay.machine.answers = {Late()};
  const double start = bay.Seconds();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
  EXPECT_EQ(bay.device->LastResult(), 0);
  EXPECT_NEAR(bay.Seconds() - start, 5.0, 0.01);  // the wait of 5000 ms
  EXPECT_TRUE(bay.device->LastTimedOut());
  EXPECT_EQ(bay.device->AspiBlock().SRB_Status, platform::SS_ABORTED);
  EXPECT_EQ(bay.machine.AspiPendingRequests(), 0u);
  EXPECT_EQ(bay.Attempts(), 1u);  // an aborted request is not retried
  // Released on the abort: the next command goes out.
  EXPECT_TRUE(bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
}

// A manager that cannot abort: a request it holds stays pending until the test lets go of it.
class StubbornManager : public ScriptedMachine {
 public:
  StubbornManager() : ScriptedMachine(sim::Family::NT, true) {}

  platform::ProcAddress GetProcAddress(platform::Module module, const char* procName) override {
    const platform::ProcAddress entry = ScriptedMachine::GetProcAddress(module, procName);
    if (!entry || std::string(procName) != "SendASPI32Command") return entry;
    send = entry;
    return {&Send, this};
  }
  void Release() { held->SRB_Status = platform::SS_ABORTED; }

 private:
  static std::uint32_t Send(void* context, void* request) {
    auto& manager = *static_cast<StubbornManager*>(context);
    auto& abort = *static_cast<platform::SrbAbort*>(request);
    if (abort.SRB_Cmd != platform::SC_ABORT_SRB) return manager.send(request);
    manager.held = static_cast<platform::SrbExecScsiCmd*>(abort.SRB_ToAbort);
    abort.SRB_Status = 0x03;  // SS_ABORT_FAIL
    return abort.SRB_Status;
  }

  platform::ProcAddress send;
  platform::SrbExecScsiCmd* held = nullptr;
};

// A manager that completes each request on a thread of its own: SendASPI32Command returns
// SS_PENDING, the thread writes the status and signals the request's event a moment later, after
// the caller may already have looked at the status. The event must still be the caller's then.
class LateSignallingManager : public ScriptedMachine {
 public:
  LateSignallingManager() : ScriptedMachine(sim::Family::NT, true) {}

  platform::ProcAddress GetProcAddress(platform::Module module, const char* procName) override {
    const platform::ProcAddress entry = ScriptedMachine::GetProcAddress(module, procName);
    if (!entry || std::string(procName) != "SendASPI32Command") return entry;
    send = entry;
    return {&Send, this};
  }
  // The manager's thread signals when the caller next looks at the event.
  std::uint32_t WaitForSingleObject(platform::Handle handle, std::uint32_t milliseconds) override {
    if (handle == unsignalled) SignalNow();
    return ScriptedMachine::WaitForSingleObject(handle, milliseconds);
  }
  bool CloseHandle(platform::Handle handle) override {
    if (handle == unsignalled) signalledAfterClose = true;
    return ScriptedMachine::CloseHandle(handle);
  }
  bool signalledAfterClose = false;

 private:
  static std::uint32_t Send(void* context, void* request) {
    auto& manager = *static_cast<LateSignallingManager*>(context);
    auto& srb = *static_cast<platform::SrbExecScsiCmd*>(request);
    if (srb.SRB_Cmd != platform::SC_EXEC_SCSI_CMD) return manager.send(request);
    void* event = srb.SRB_PostProc;
    srb.SRB_PostProc = nullptr;  // completed now, signalled later
    manager.send(request);
    srb.SRB_PostProc = event;
    manager.unsignalled = reinterpret_cast<platform::Handle>(event);
    return platform::SS_PENDING;
  }
  void SignalNow() {
    SetEvent(unsignalled);
    unsignalled = 0;
  }

  platform::ProcAddress send;
  platform::Handle unsignalled = 0;
};

TEST(AspiPending, APendingRequestsEventIsWaitedForBeforeItIsClosed) {
  LateSignallingManager machine;
  QuietApplication application;
  application.SetTag(32767);  // ASPI first
  device::AtapiDevice device(machine, application);
  ASSERT_TRUE(device.SelectDrive(0) && device.UseAspi());
  EXPECT_TRUE(device.ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_FALSE(machine.signalledAfterClose);
}

TEST(AspiPending, HeldRequestKeepsBlockAndBuffersOutOfUseUntilReleased) {
  StubbornManager machine;
  QuietApplication application;
  application.SetTag(32767);
  device::AtapiDevice device(machine, application);
  ASSERT_TRUE(device.SelectDrive(0));
  machine.sent.clear();
  device.SetCommandTimeout(1);
  machine.answers = {Late()};
  const auto seconds = [&machine] { return machine.GetClock().NowNanoseconds() / 1e9; };
  const double start = seconds();
  EXPECT_FALSE(device.ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
  EXPECT_NEAR(seconds() - start, 1.0 + 2.0, 0.05);  // the wait, then the bounded grace

  // Neither path may reuse the buffers while the manager holds them, and no command clears them.
  EXPECT_FALSE(device.ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
  EXPECT_EQ(device.LastResult(), 0);
  device.InBuffer()[0] = 0x5A;
  device.OutBuffer()[0] = 0xA5;
  EXPECT_FALSE(device.Inquiry(0, 0, 0, 96, 0));
  EXPECT_FALSE(device.ReadFlashId());
  EXPECT_FALSE(device.SendFlashProgram());
  EXPECT_EQ(device.InBuffer()[0], 0x5A);
  EXPECT_EQ(device.OutBuffer()[0], 0xA5);
  EXPECT_EQ(machine.sent.size(), 1u);

  machine.Release();
  EXPECT_TRUE(device.ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
  EXPECT_EQ(machine.sent.size(), 2u);
}

TEST(AspiPending, LongestWaitStopsShortOfWaitingForEver) {
  SelectedDevice bay(Path::Aspi);
  bay.device->SetCommandTimeout(5'000'000);  // 5e9 milliseconds do not fit the wait's argument
  bay.machine.answers = {Late()};
  const double start = bay.Seconds();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_NEAR(bay.Seconds() - start, 0xFFFFFFFE / 1000.0, 0.01);
}

TEST(AspiPending, PollWithoutEventIsBoundedByTheTimeOut) {
  SelectedDevice bay(Path::Aspi);
  bay.device->SetCommandTimeout(1);
  bay.machine.FailCall("CreateEventA");
  bay.machine.answers = {Answer{}, Late()};
  EXPECT_TRUE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(bay.device->AspiBlock().SRB_Flags, 0);  // no event notification
  const void* postProc = bay.device->AspiBlock().SRB_PostProc;
  EXPECT_EQ(postProc, nullptr);

  const double start = bay.Seconds();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(bay.device->LastResult(), 0);
  EXPECT_NEAR(bay.Seconds() - start, 1.0, 0.01);
  EXPECT_EQ(bay.device->AspiBlock().SRB_Status, platform::SS_ABORTED);
}

TEST(AspiPending, NoManagerLoadedFailsWithoutCallingAnyEntryPoint) {
  ScriptedMachine machine(sim::Family::Consumer, false);
  QuietApplication application;
  device::AtapiDevice device(machine, application, false);
  EXPECT_TRUE(device.UseAspi());
  EXPECT_FALSE(device.AspiLoaded());
  EXPECT_FALSE(device.ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(device.LastResult(), 0);
}

// --- Both paths on the simulated drive -----------------------------------------------------------

TEST(BothPaths, ReachTheSameDrive) {
  sim::BayConfig bay;
  bay.aspi = true;
  bay.drives.emplace_back();
  sim::SimSystem machine(bay);
  QuietApplication passThrough;
  QuietApplication aspi;
  aspi.SetTag(32767);
  device::AtapiDevice writer(machine, aspi);
  device::AtapiDevice reader(machine, passThrough);
  ASSERT_TRUE(writer.SelectDrive(0) && writer.UseAspi());
  ASSERT_TRUE(reader.SelectDrive(0) && !reader.UseAspi());
  for (int i = 0; i < 16384; ++i) writer.OutBuffer()[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(writer.WriteBuffer(0, 16384, 0x00));
  ASSERT_TRUE(reader.ReadBuffer(0, 16384));
  EXPECT_EQ(std::memcmp(reader.InBuffer(), writer.OutBuffer(), 16384), 0);
}

}  // namespace
}  // namespace movrel::test
