// The status and tray commands: their command blocks byte for byte, the sense predicates, the
// waits on the virtual clock and the tray predicate.
#include <gtest/gtest.h>

#include "DeviceFixture.h"

namespace movrel::test {
namespace {

// The command blocks, directions and lengths of the commands sent since the last clear.
struct Command {
  sim::CommandBytes block;
  sim::Transfer direction;
  std::uint32_t length;
  bool operator==(const Command&) const = default;
};

std::vector<Command> SentCommands(const ScriptedMachine& machine) {
  std::vector<Command> sent;
  for (const Sent& command : machine.sent) {
    sent.push_back({command.command, command.direction, command.length});
  }
  return sent;
}

constexpr sim::Transfer kIn = sim::Transfer::In;
constexpr sim::Transfer kNone = sim::Transfer::None;

// --- Command blocks ------------------------------------------------------------------------------

TEST(CommandBlocks, BuildersFillTheirFieldsAndNothingElse) {
  SelectedDevice bay(Path::PassThrough);
  device::AtapiDevice& device = *bay.device;
  device.Inquiry(0, 0, 0, 96, 0);
  device.Inquiry(3, 3, 0x83, 0xFF, 0x5A);  // bits beyond the field are dropped
  device.GetEventStatus(3, 0x10, 0x0108, 0x7E);
  device.StartStopUnit(3, 0x1F, 3, 3);
  device.StartStopUnit(0, 0x2, 0, 1);
  device.TestUnitReady();
  EXPECT_EQ(SentCommands(bay.machine),
            (std::vector<Command>{
                {{0x12, 0, 0, 0, 0x60, 0, 0, 0, 0, 0, 0, 0}, kIn, 96},
                {{0x12, 0x03, 0x83, 0, 0xFF, 0x5A, 0, 0, 0, 0, 0, 0}, kIn, 255},
                {{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0x01, 0x08, 0x7E, 0, 0}, kIn, 0x0108},
                {{0x1B, 0x01, 0, 0, 0xF3, 0, 0, 0, 0, 0, 0, 0}, kNone, 0},
                {{0x1B, 0x00, 0, 0, 0x21, 0, 0, 0, 0, 0, 0, 0}, kNone, 0},
                {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kNone, 0},
            }));
}

TEST(CommandBlocks, TrayCommands) {
  SelectedDevice bay(Path::PassThrough);
  bay.device->LoadTray();
  bay.device->EjectTray();
  bay.device->StopUnit();
  bay.device->TrayOpen();
  EXPECT_EQ(SentCommands(bay.machine),
            (std::vector<Command>{
                {{0x1B, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0}, kNone, 0},
                {{0x1B, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0}, kNone, 0},
                {{0x1B, 0, 0, 0, 0x00, 0, 0, 0, 0, 0, 0, 0}, kNone, 0},
                {{0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 0x08, 0, 0, 0}, kIn, 8},
            }));
}

TEST(CommandBlocks, InquiryReplyAreaIsClearedBeforeTheCommand) {
  SelectedDevice bay(Path::PassThrough);
  Answer full;
  full.reply.assign(96, 'A');
  Answer shortReply;
  shortReply.reply.assign(8, 'B');
  bay.machine.answers = {full, shortReply};
  bay.device->Inquiry(0, 0, 0, 96, 0);
  bay.device->Inquiry(0, 0, 0, 96, 0);
  const std::uint8_t* reply = bay.device->InBuffer();
  EXPECT_EQ(reply[7], 'B');
  for (int i = 8; i < 96; ++i) ASSERT_EQ(reply[i], 0) << i;
}

// --- Sense predicates ----------------------------------------------------------------------------

TEST(SensePredicates, CompareKeyAndCodeButNotTheQualifier) {
  SelectedDevice bay(Path::PassThrough);
  for (std::uint8_t qualifier : {0x00, 0x01}) {
    bay.machine.answers = {Sense(2, 0x3A, qualifier)};
    bay.device->TestUnitReady();
    EXPECT_TRUE(bay.device->SenseIs(2, 0x3A));
    EXPECT_FALSE(bay.device->SenseIs(2, 0x04));
    EXPECT_FALSE(bay.device->SenseIs(6, 0x3A));
    EXPECT_TRUE(bay.device->SenseKeyIs(2));
    EXPECT_FALSE(bay.device->SenseKeyIs(6));
  }
}

// --- Waits ---------------------------------------------------------------------------------------

// A drive that answers NOT READY / LOGICAL UNIT NOT READY until `seconds` from now, then good.
void BecomingReadyFor(SelectedDevice& bay, double seconds) {
  const double readyAt = bay.Seconds() + seconds;
  bay.machine.responder = [&bay, readyAt](const sim::CommandBytes&) {
    return bay.Seconds() < readyAt ? Sense(2, 0x04, 0x01) : Answer{};
  };
}

TEST(WaitUnitReady, PollsEvery300MillisecondsUntilTheDriveIsReady) {
  SelectedDevice bay(Path::PassThrough);
  BecomingReadyFor(bay, 2.0);
  const double start = bay.Seconds();
  EXPECT_TRUE(bay.device->WaitUnitReady(30));
  const double waited = bay.Seconds() - start;
  EXPECT_GE(waited, 2.0);
  EXPECT_LT(waited, 2.4);
  // Seven not-ready answers (0 s to 1.8 s), the good answer, and the final command.
  EXPECT_EQ(bay.machine.Count(0x00), 9);
  EXPECT_EQ(bay.device->LastResult(), 1);
}

TEST(WaitUnitReady, DriveThatStaysNotReadyTimesOutAfterTheLimit) {
  SelectedDevice bay(Path::PassThrough);
  bay.machine.responder = [](const sim::CommandBytes&) { return Sense(2, 0x04, 0x01); };
  const double start = bay.Seconds();
  EXPECT_FALSE(bay.device->WaitUnitReady(30));
  const double waited = bay.Seconds() - start;
  EXPECT_GE(waited, 30.0);
  EXPECT_LT(waited, 30.4);
  EXPECT_TRUE(bay.device->SenseIs(2, 0x04));  // the final command's answer is kept

  const double before = bay.Seconds();
  EXPECT_FALSE(bay.device->MediumAbsent());  // waits its 30 seconds too
  EXPECT_GE(bay.Seconds() - before, 30.0);
  EXPECT_LT(bay.Seconds() - before, 30.4);
}

TEST(WaitUnitReady, UnitAttentionContinuesTheWait) {
  SelectedDevice bay(Path::PassThrough);
  bay.machine.answers = {Sense(6, 0x29), Sense(6, 0x28), Answer{}};
  EXPECT_TRUE(bay.device->WaitUnitReady(30));
  EXPECT_EQ(bay.machine.Count(0x00), 4);
}

TEST(WaitUnitReady, ZeroOrNegativeLimitWaitsWithoutLimit) {
  for (std::int32_t limit : {0, -5}) {
    SelectedDevice bay(Path::PassThrough);
    BecomingReadyFor(bay, 100.0);
    const double start = bay.Seconds();
    EXPECT_TRUE(bay.device->WaitUnitReady(limit)) << limit;
    EXPECT_GE(bay.Seconds() - start, 100.0) << limit;
  }
}

TEST(WaitUnitReady, OtherAnswersEndTheWaitAtOnce) {
  struct Case {
    Answer answer;
    bool mediumAbsent;
  };
  const Case cases[] = {{Sense(2, 0x3A), true},  {Sense(2, 0x3A, 0x01), true},
                        {Sense(2, 0x05), false}, {Sense(3, 0x3A), false},
                        {Failed(), false},       {Answer{}, false}};
  for (const Case& c : cases) {
    SelectedDevice bay(Path::PassThrough);
    bay.machine.responder = [&c](const sim::CommandBytes&) { return c.answer; };
    EXPECT_TRUE(bay.device->WaitUnitReady(30));
    EXPECT_EQ(bay.machine.Count(0x00), 2);
    EXPECT_EQ(bay.device->MediumAbsent(), c.mediumAbsent);
    EXPECT_EQ(bay.machine.Count(0x00), 4);
  }
}

TEST(WaitWhileUnitAttention, OneUnitAttentionMeansExactlyTwoCommands) {
  SelectedDevice bay(Path::PassThrough);
  bay.machine.answers = {Sense(6, 0x29)};
  bay.device->WaitWhileUnitAttention();
  EXPECT_EQ(bay.machine.Count(0x00), 2);
}

TEST(WaitWhileUnitAttention, EndsAfterOneCommandOnAnyOtherAnswer) {
  for (const Answer& answer : {Answer{}, Sense(2, 0x3A), Failed()}) {
    SelectedDevice bay(Path::PassThrough);
    bay.machine.answers = {answer};
    bay.device->WaitWhileUnitAttention();
    EXPECT_EQ(bay.machine.Count(0x00), 1);
  }
}

TEST(WaitWhileUnitAttention, EndlessUnitAttentionIsBoundedAt100Commands) {
  SelectedDevice bay(Path::PassThrough);
  bay.machine.responder = [](const sim::CommandBytes&) { return Sense(6, 0x29); };
  bay.device->WaitWhileUnitAttention();
  EXPECT_EQ(bay.machine.Count(0x00), 100);
}

// --- Tray ----------------------------------------------------------------------------------------

Answer MediaStatus(std::uint8_t status) {
  Answer answer;
  answer.reply = {0x00, 0x06, 0x04, 0x54, 0x00, status, 0x00, 0x00};
  return answer;
}

TEST(TrayOpen, ReadsBitZeroOfTheMediaStatus) {
  const std::pair<std::uint8_t, bool> cases[] = {{0x01, true}, {0x02, false}, {0x03, true}};
  for (const auto& [status, open] : cases) {
    SelectedDevice bay(Path::PassThrough);
    bay.machine.answers = {MediaStatus(status)};
    EXPECT_EQ(bay.device->TrayOpen(), open) << int{status};
  }
}

TEST(TrayOpen, ShortReplyDoesNotReuseAnEarlierMediaStatus) {
  SelectedDevice bay(Path::PassThrough);
  Answer header;
  header.reply = {0x00, 0x02, 0x80, 0x54};
  bay.machine.answers = {MediaStatus(0x01), header};
  EXPECT_TRUE(bay.device->TrayOpen());
  EXPECT_FALSE(bay.device->TrayOpen());
}

}  // namespace
}  // namespace movrel::test
