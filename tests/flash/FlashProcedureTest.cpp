// The whole flash procedure against the simulated drive: the order of its commands, the
// programming command of each boot-code choice, and how it goes on or stops when a step fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FlashMachine.h"

namespace movrel::test {

using device::AtapiDevice;
namespace {

constexpr std::int32_t kOneMiB = 1 << 20;

// Each trace line as its operation code, with the control byte for WRITE BUFFER ("3B/7F");
// a drive's note as "note".
std::vector<std::string> Steps(const std::vector<std::string>& trace) {
  std::vector<std::string> steps;
  for (const std::string& line : trace) {
    const int code = test::OperationCode(line);
    if (code < 0) {
      steps.push_back("note");
    } else if (code == 0x3B) {
      steps.push_back("3B/" + line.substr(2 + 9 * 3, 2));
    } else {
      steps.push_back(line.substr(2, 2));
    }
  }
  return steps;
}

std::vector<std::string> Transfer(int chunks) {
  std::vector<std::string> steps;
  for (int i = 0; i < chunks; ++i) {
    steps.push_back("3B/00");
    steps.push_back("3C");
  }
  return steps;
}

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// The programming command, then the drive watched on the same device until it answers (the
// power-on unit attention of its new firmware), and identified there.
const std::vector<std::string> kProgrammed{"3B/80", "00", "12"};

sim::Fault FaultOn(std::uint8_t command, sim::FaultKind kind) {
  sim::Fault fault;
  fault.command = command;
  fault.kind = kind;
  return fault;
}

class FlashProcedure : public ::testing::Test {
 protected:
  FlashProcedure() : image(kOneMiB, 0x6C) {}
  std::vector<std::uint8_t> image;
};

TEST_F(FlashProcedure, CommandOrderOfASuccessfulRun) {
  std::vector<std::uint32_t> waits;  // the time-out of each command
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  drive.responder = [&waits](const sim::CommandBytes&, const sim::DataPhase& data, sim::Answer&) {
    waits.push_back(data.timeoutSeconds);
    return false;
  };
  FlashMachine machine(Bay({drive}));
  waits.clear();
  machine.device.SetCommandTimeout(5);
  // The first look at the window's messages is the pause's: note where the run stands then.
  std::size_t commandsBeforePause = 0;
  std::int64_t pauseStart = 0;
  machine.application.Post([&] {
    commandsBeforePause = machine.system.Trace().size();
    pauseStart = machine.system.GetClock().NowNanoseconds();
  });
  EXPECT_TRUE(machine.device.FlashFirmware(image.data(), kOneMiB, 0));

  const std::vector<std::string> trace = machine.system.Trace();
  // One second on the clock between the verified transfer and the programming command.
  EXPECT_EQ(commandsBeforePause, trace.size() - 3);
  const double paused =
      static_cast<double>(machine.system.GetClock().NowNanoseconds() - pauseStart) / 1e9;
  EXPECT_GE(paused, 1.0);
  EXPECT_LT(paused, 1.01);
  const std::vector<std::string> expected =
      Joined(Joined({"00", "00", "1B", "DF", "3B/7F", "note"}, Transfer(64)), kProgrammed);
  EXPECT_EQ(Steps(trace), expected);
  EXPECT_EQ(trace[2], "D 1B 00 00 00 00 00 00 00 00 00 00 00 none 0 good");
  EXPECT_EQ(trace[5], "D program row 19 match");
  EXPECT_EQ(trace[trace.size() - 3], "D 3B 05 01 00 00 00 00 00 00 80 00 00 none 0 good");
  EXPECT_EQ(trace[trace.size() - 2], "D 00 00 00 00 00 00 00 00 00 00 00 00 none 0 sense 06/29/00");
  EXPECT_TRUE(machine.device.ThrowOnFailure());
  // A bounded wait for every command; minutes for the hand-over to the drive-side program, and
  // the long one for the programming command and the watch after it, which the device keeps.
  std::vector<std::uint32_t> expectedWaits(trace.size() - 4, 30);  // the note is no command
  expectedWaits[4] = 300;
  expectedWaits.insert(expectedWaits.end(), {108000, 108000, 108000});
  EXPECT_EQ(waits, expectedWaits);
  EXPECT_EQ(machine.device.CommandTimeout(), AtapiDevice::kProgrammingCommandTimeout);
}

TEST_F(FlashProcedure, BootCodeChangesOnlyTheProgrammingCommand) {
  FlashMachine without(Bay({Drive('D', {1, 0, 0, 0})}));
  FlashMachine with(Bay({Drive('D', {1, 0, 0, 0})}));
  EXPECT_TRUE(without.device.FlashFirmware(image.data(), kOneMiB, 0));
  EXPECT_TRUE(with.device.FlashFirmware(image.data(), kOneMiB, 1));
  std::vector<std::string> traceWithout = without.system.Trace();
  std::vector<std::string> traceWith = with.system.Trace();
  EXPECT_EQ(traceWith[traceWith.size() - 3], "D 3B 05 01 00 00 00 00 00 00 A0 00 00 none 0 good");
  traceWithout.erase(traceWithout.end() - 3);
  traceWith.erase(traceWith.end() - 3);
  EXPECT_EQ(traceWith, traceWithout);
}

TEST_F(FlashProcedure, DriveThatStaysNotReadyIsWaitedForSixtySecondsThenFlashed) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  drive.notReadySeconds = 3600;
  FlashMachine machine(Bay({drive}));
  const std::int64_t start = machine.system.GetClock().NowNanoseconds();
  machine.device.FlashFirmware(image.data(), kOneMiB, 0);

  const std::vector<std::string> steps = Steps(machine.system.Trace());
  std::size_t polls = 0;
  while (polls < steps.size() && steps[polls] == "00") ++polls;
  // About one poll every 300 ms for 60 seconds, then the final one.
  EXPECT_GE(polls, 150u);
  EXPECT_LE(polls, 202u);
  ASSERT_GT(steps.size(), polls + 2);
  EXPECT_EQ(steps[polls], "1B");
  EXPECT_EQ(steps[polls + 1], "DF");
  EXPECT_EQ(steps[polls + 2], "3B/7F");
  const double waited =
      static_cast<double>(machine.system.GetClock().NowNanoseconds() - start) / 1e9;
  EXPECT_GE(waited, 60.0);
  EXPECT_FALSE(test::CommandsWithCode(machine.system.Trace(), 0x3C).empty());
}

TEST_F(FlashProcedure, NoProgramForAnUnreadableOrUnknownFlashPartButTheImageStillGoes) {
  const std::vector<std::string> expected =
      Joined(Joined({"00", "00", "1B", "DF"}, Transfer(64)), kProgrammed);
  for (const test::FlashId& identity :
       {test::FlashId{0, 0, 0, 0}, test::FlashId{0xBF, 0xD8, 0, 7}}) {
    FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0}, identity)}));
    EXPECT_TRUE(machine.device.FlashFirmware(image.data(), kOneMiB, 0));
    EXPECT_EQ(Steps(machine.system.Trace()), expected);
  }
}

// A read-back that does not bring the chunk back fails the pass, whatever form it takes; after
// three passes no programming command follows. The image is zeros, which the cleared input
// buffer matches when no data arrive.
TEST_F(FlashProcedure, FailedReadBackSendsNoProgrammingCommand) {
  sim::Fault descriptorSense = FaultOn(0x3C, sim::FaultKind::DescriptorSense);
  descriptorSense.sense = {0x05, 0x20, 0x00};
  sim::Fault unreported = FaultOn(0x3C, sim::FaultKind::Short);
  unreported.residue = false;
  struct Case {
    const char* name;
    sim::Fault fault;
    std::vector<std::string> pass;
  };
  const Case cases[] = {
      {"corrupt", FaultOn(0x3C, sim::FaultKind::Corrupt), Transfer(1)},
      {"descriptor sense 5/20/00", descriptorSense, Transfer(1)},
      // Good status without data is no answer: strict mode sends it once more.
      {"empty reply", FaultOn(0x3C, sim::FaultKind::Short), {"3B/00", "3C", "3C"}},
      // The same reply from a drive whose transport reports no residue reads as a whole one.
      {"empty reply, no residue", unreported, Transfer(1)},
  };
  const std::vector<std::uint8_t> zeros(kOneMiB, 0);
  for (const Case& c : cases) {
    sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
    drive.faults.push_back(c.fault);
    FlashMachine machine(Bay({drive}));
    EXPECT_FALSE(machine.device.FlashFirmware(zeros.data(), kOneMiB, 0)) << c.name;
    const std::vector<std::string> expected =
        Joined({"00", "00", "1B", "DF", "3B/7F", "note"}, Joined(c.pass, Joined(c.pass, c.pass)));
    EXPECT_EQ(Steps(machine.system.Trace()), expected) << c.name;
    EXPECT_TRUE(machine.device.ThrowOnFailure());
  }
}

// A command after the drive-side program that gets no answer, or the drive's report of a reset,
// means the drive may have lost that program: the run ends before any programming command. A
// drive that took no program has nothing to lose, and its transfer starts again as ever.
TEST_F(FlashProcedure, ADriveThatMayHaveLostItsProgramIsNotProgrammed) {
  sim::Fault reset = FaultOn(0x3B, sim::FaultKind::Sense);
  reset.sense = {0x06, 0x29, 0x00};
  struct Case {
    const char* name;
    sim::FaultKind kind;
    test::FlashId flashId;
    std::vector<std::string> fourthChunk;  // then the run stops, or "" for a run that goes on
  };
  const test::FlashId known{0xBF, 0xD8, 0, 5};
  const Case cases[] = {
      {"timeout", sim::FaultKind::Timeout, known, {"3B/00"}},
      {"fail", sim::FaultKind::Fail, known, {"3B/00", "3B/00"}},  // strict mode's second try
      {"unit attention 06/29/00", sim::FaultKind::Sense, known, {"3B/00"}},
      {"timeout, no program", sim::FaultKind::Timeout, test::FlashId{0xBF, 0xD8, 0, 7}, {}},
  };
  for (const Case& c : cases) {
    sim::DriveConfig drive = Drive('D', {1, 0, 0, 0}, c.flashId);
    sim::Fault fault = reset;
    fault.kind = c.kind;
    fault.control = 0x00;
    fault.occurrence = 4;
    drive.faults.push_back(fault);
    FlashMachine machine(Bay({drive}));
    const bool programmed = machine.device.FlashFirmware(image.data(), kOneMiB, 0);
    const std::vector<std::string> steps = Steps(machine.system.Trace());
    if (c.fourthChunk.empty()) {
      EXPECT_TRUE(programmed) << c.name;
      EXPECT_EQ(std::vector(steps.end() - 3, steps.end()), kProgrammed) << c.name;
      continue;
    }
    EXPECT_FALSE(programmed) << c.name;
    EXPECT_TRUE(machine.device.ProgramLost()) << c.name;
    const std::vector<std::string> expected =
        Joined(Joined({"00", "00", "1B", "DF", "3B/7F", "note"}, Transfer(3)), c.fourthChunk);
    EXPECT_EQ(steps, expected) << c.name;
  }
}

TEST_F(FlashProcedure, FailedProgrammingCommandIsSentOnceMoreInStrictMode) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  sim::Fault fault = FaultOn(0x3B, sim::FaultKind::Fail);
  fault.control = 0x80;
  drive.faults.push_back(fault);
  FlashMachine machine(Bay({drive}));
  EXPECT_FALSE(machine.device.FlashFirmware(image.data(), kOneMiB, 0));
  const std::vector<std::string> trace = machine.system.Trace();
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[trace.size() - 2], "D 3B 05 01 00 00 00 00 00 00 80 00 00 none 0 fail");
  EXPECT_EQ(trace[trace.size() - 1], "D 3B 05 01 00 00 00 00 00 00 80 00 00 none 0 fail");
  EXPECT_EQ(test::CommandsWithCode(trace, 0x3C).size(), 64u);
}

TEST_F(FlashProcedure, PreparationFailuresAreNotRetried) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  drive.faults.push_back(FaultOn(0x1B, sim::FaultKind::Fail));
  drive.faults.push_back(FaultOn(0xDF, sim::FaultKind::Fail));
  FlashMachine machine(Bay({drive}));
  machine.device.SetThrowOnFailure();
  EXPECT_TRUE(machine.device.FlashFirmware(image.data(), kOneMiB, 0));
  const std::vector<std::string> expected =
      Joined(Joined({"00", "00", "1B", "DF"}, Transfer(64)), kProgrammed);
  EXPECT_EQ(Steps(machine.system.Trace()), expected);
}

TEST_F(FlashProcedure, ImageThatCannotBeSentWholeIsRefusedBeforeAnyCommand) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  for (std::int32_t length : {0, -16384, 16383, kOneMiB + 1, (16 << 20) + 16384}) {
    EXPECT_FALSE(machine.device.FlashFirmware(image.data(), length, 0)) << length;
  }
  EXPECT_FALSE(machine.device.FlashFirmware(nullptr, kOneMiB, 0));
  EXPECT_TRUE(machine.system.Trace().empty());
}

}  // namespace
}  // namespace movrel::test
