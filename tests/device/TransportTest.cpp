// ExecuteCommand: the request blocks of both paths byte for byte, the classification of outcomes,
// the single retry in strict mode, and the mended failure cases of the ASPI path.
#include <gtest/gtest.h>

#include <cstddef>

#include "DeviceFixture.h"

namespace devtest {
namespace {

using movrel::CommandBlock;
using movrel::DataDirection;

constexpr CommandBlock kCommand{0x12, 0x01, 0x02, 0x03, 0x04, 0x05,
                                0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};

// --- Request blocks ------------------------------------------------------------------------------

TEST(PassThroughRequest, IsFilledFieldByField) {
  SelectedDevice bay(Path::PassThrough);
  bay.device->SetCommandTimeout(77);
  bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 96);

  ASSERT_EQ(bay.machine.passThroughRequests.size(), 1u);
  const movrel::PassThroughRequest& request = bay.machine.passThroughRequests[0];
  const platform::ScsiPassThroughDirect& sptd = request.sptd;
  EXPECT_EQ(bay.machine.passThroughHandles[0], FakeMachine::kDriveHandle);
  EXPECT_EQ(sptd.Length, sizeof(platform::ScsiPassThroughDirect));
  EXPECT_EQ(sptd.ScsiStatus, 0);
  EXPECT_EQ(sptd.PathId, 1);  // the port number, not the path id
  EXPECT_EQ(sptd.TargetId, 2);
  EXPECT_EQ(sptd.Lun, 0);  // always logical unit 0
  EXPECT_EQ(sptd.CdbLength, 12);
  EXPECT_EQ(sptd.SenseInfoLength, 24);
  EXPECT_EQ(sptd.DataIn, 1);
  EXPECT_EQ(sptd.DataTransferLength, 96u);
  EXPECT_EQ(sptd.TimeOutValue, 77u);
  EXPECT_EQ(sptd.DataBuffer, bay.device->InBuffer());
  // The offset names the sense area where it really lies in the request.
  const auto* base = reinterpret_cast<const std::uint8_t*>(&request);
  EXPECT_EQ(sptd.SenseInfoOffset, static_cast<std::uint32_t>(request.senseArea - base));
  if constexpr (sizeof(void*) == 4) {
    EXPECT_EQ(sptd.Length, 44);
    EXPECT_EQ(sptd.SenseInfoOffset, 48u);
    EXPECT_EQ(sizeof request, 80u);
  }
  for (int i = 0; i < 12; ++i) EXPECT_EQ(sptd.Cdb[i], kCommand[i]) << i;
  for (int i = 12; i < 16; ++i) EXPECT_EQ(sptd.Cdb[i], 0) << i;
}

TEST(AspiRequest, IsFilledFieldByField) {
  SelectedDevice bay(Path::Aspi);
  bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 96);

  ASSERT_EQ(bay.machine.aspiRequests.size(), 1u);
  const platform::SrbExecScsiCmd& request = bay.machine.aspiRequests[0];
  EXPECT_EQ(request.SRB_Cmd, 0x02);
  EXPECT_EQ(request.SRB_HaId, 0);
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
  if constexpr (sizeof(void*) == 4) {
    EXPECT_EQ(sizeof request, 80u);
    EXPECT_EQ(offsetof(platform::SrbExecScsiCmd, SenseArea), 64u);
  }
}

TEST(AspiRequest, DirectionFlags) {
  SelectedDevice bay(Path::Aspi);
  bay.device->ExecuteCommand(kCommand, DataDirection::ToDrive, 16);
  bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0);
  ASSERT_EQ(bay.machine.aspiRequests.size(), 2u);
  EXPECT_EQ(bay.machine.aspiRequests[0].SRB_Flags, 0x10 | 0x40);
  EXPECT_EQ(bay.machine.aspiRequests[0].SRB_BufPointer, bay.device->OutBuffer());
  EXPECT_EQ(bay.machine.aspiRequests[1].SRB_Flags, 0x40);
}

TEST(BufferRule, DataOutUsesOutBufferAndNoDataOrZeroLengthCarriesNone) {
  SelectedDevice bay(Path::PassThrough);
  bay.device->ExecuteCommand(kCommand, DataDirection::ToDrive, 16384);
  bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 5);
  bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 0);
  const auto& requests = bay.machine.passThroughRequests;
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].sptd.DataIn, 0);
  EXPECT_EQ(requests[0].sptd.DataBuffer, bay.device->OutBuffer());
  EXPECT_EQ(requests[1].sptd.DataIn, 2);
  EXPECT_EQ(requests[1].sptd.DataBuffer, nullptr);
  EXPECT_EQ(requests[1].sptd.DataTransferLength, 5u);
  EXPECT_EQ(requests[2].sptd.DataBuffer, nullptr);
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
}

const Outcome kOutcomes[] = {
    {"Good", Answer{}, Answer{}, false, true, 1, 1},
    {"SenseData", Sense(2, 0x3A), Answer{}, false, false, 2, 1},
    {"SenseDataStrictNotRetried", Sense(2, 0x3A), Answer{}, true, false, 2, 1},
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
  ASSERT_EQ(bay.machine.passThroughHandles.size(), 2u);
  EXPECT_EQ(bay.machine.passThroughHandles[1], platform::InvalidHandleValue);
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
  bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0);
  ASSERT_EQ(bay.machine.aspiRequests.size(), 1u);
  EXPECT_EQ(bay.machine.aspiRequests[0].SRB_HaId, 0xFF);
  EXPECT_EQ(bay.machine.aspiRequests[0].SRB_Target, 0xFF);
}

// --- The ASPI wait, the poll, and requests that stay pending -------------------------------------

Answer Pending(bool releasedOnAbort) {
  Answer answer;
  answer.pending = true;
  answer.releasedOnAbort = releasedOnAbort;
  return answer;
}

TEST(AspiPending, IsAbortedAfterTheTimeOutAndFails) {
  SelectedDevice bay(Path::Aspi);
  bay.device->SetCommandTimeout(5);
  bay.device->SetThrowOnFailure();
  bay.machine.answers = {Pending(true)};
  const double start = bay.Seconds();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
  EXPECT_EQ(bay.device->LastResult(), 0);
  EXPECT_NEAR(bay.Seconds() - start, 5.0, 0.01);  // the wait of 5000 ms
  EXPECT_TRUE(bay.device->LastTimedOut());
  EXPECT_EQ(bay.machine.aspiCommands, (std::vector<std::uint8_t>{0x02, 0x03}));
  EXPECT_EQ(bay.Attempts(), 1u);  // an aborted request is not retried
  // Released on the abort: the next command goes out.
  EXPECT_TRUE(bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
}

TEST(AspiPending, HeldRequestKeepsBlockAndBuffersOutOfUseUntilReleased) {
  SelectedDevice bay(Path::Aspi);
  bay.device->SetCommandTimeout(1);
  bay.machine.answers = {Pending(false)};
  const double start = bay.Seconds();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
  EXPECT_NEAR(bay.Seconds() - start, 1.0 + 2.0, 0.05);  // the wait, then the bounded grace

  // Neither path may reuse the buffers while the manager holds them, and no command clears them.
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
  EXPECT_EQ(bay.device->LastResult(), 0);
  bay.device->InBuffer()[0] = 0x5A;
  bay.device->OutBuffer()[0] = 0xA5;
  EXPECT_FALSE(bay.device->Inquiry(0, 0, 0, 96, 0));
  EXPECT_FALSE(bay.device->ReadFlashId());
  EXPECT_FALSE(bay.device->SendFlashProgram());
  EXPECT_EQ(bay.device->InBuffer()[0], 0x5A);
  EXPECT_EQ(bay.device->OutBuffer()[0], 0xA5);
  EXPECT_EQ(bay.machine.aspiRequests.size(), 1u);

  bay.machine.ReleasePending();
  EXPECT_TRUE(bay.device->ExecuteCommand(kCommand, DataDirection::FromDrive, 8));
  EXPECT_EQ(bay.machine.aspiRequests.size(), 2u);
}

TEST(AspiPending, LongestWaitStopsShortOfWaitingForEver) {
  SelectedDevice bay(Path::Aspi);
  bay.device->SetCommandTimeout(5'000'000);  // 5e9 milliseconds do not fit the wait's argument
  bay.machine.answers = {Pending(true)};
  const double start = bay.Seconds();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_NEAR(bay.Seconds() - start, 0xFFFFFFFE / 1000.0, 0.01);
}

TEST(AspiPending, PollWithoutEventIsBoundedByTheTimeOut) {
  SelectedDevice bay(Path::Aspi);
  bay.device->SetCommandTimeout(1);
  bay.machine.FailCall("CreateEventA");
  bay.machine.answers = {Answer{}, Pending(true)};
  EXPECT_TRUE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(bay.machine.aspiRequests[0].SRB_Flags, 0);  // no event notification
  const void* postProc = bay.machine.aspiRequests[0].SRB_PostProc;
  EXPECT_EQ(postProc, nullptr);

  const double start = bay.Seconds();
  EXPECT_FALSE(bay.device->ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(bay.device->LastResult(), 0);
  EXPECT_NEAR(bay.Seconds() - start, 1.0, 0.01);
  EXPECT_EQ(bay.machine.aspiCommands.back(), platform::SC_ABORT_SRB);
}

TEST(AspiPending, NoManagerLoadedFailsWithoutCallingAnyEntryPoint) {
  FakeMachine machine(sim::Family::Consumer, false);
  QuietApplication application;
  movrel::AtapiDevice device(machine, application, false);
  EXPECT_TRUE(device.UseAspi());
  EXPECT_FALSE(device.AspiLoaded());
  EXPECT_FALSE(device.ExecuteCommand(kCommand, DataDirection::NoData, 0));
  EXPECT_EQ(device.LastResult(), 0);
}

}  // namespace
}  // namespace devtest
