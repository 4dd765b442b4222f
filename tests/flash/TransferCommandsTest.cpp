// The firmware transfer commands against the simulated drive: their command bytes, directions
// and lengths as the drive saw them, the verified image transfer with its attempts, and the
// timed pause.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "FlashMachine.h"
#include "InstantDrive.h"

namespace movrel::test {

using device::AtapiDevice;
using device::CommandBlock;
namespace {

constexpr std::int32_t kChunk = 16384;
constexpr std::int32_t kOneMiB = 1 << 20;

std::vector<std::uint8_t> Image(std::int32_t length) {
  std::vector<std::uint8_t> image(static_cast<std::size_t>(length));
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 14));
  }
  return image;
}

CommandBlock WriteBlock(std::uint32_t offset, std::uint32_t length, std::uint8_t control) {
  return {0x3B,
          0x05,
          0x01,
          static_cast<std::uint8_t>(offset >> 16),
          static_cast<std::uint8_t>(offset >> 8),
          static_cast<std::uint8_t>(offset),
          static_cast<std::uint8_t>(length >> 16),
          static_cast<std::uint8_t>(length >> 8),
          static_cast<std::uint8_t>(length),
          control,
          0x00,
          0x00};
}

CommandBlock ReadBlock(std::uint32_t offset, std::uint32_t length) {
  return {0x3C,
          0x01,
          0x01,
          static_cast<std::uint8_t>(offset >> 16),
          static_cast<std::uint8_t>(offset >> 8),
          static_cast<std::uint8_t>(offset),
          static_cast<std::uint8_t>(length >> 16),
          static_cast<std::uint8_t>(length >> 8),
          static_cast<std::uint8_t>(length),
          0x00,
          0x00,
          0x00};
}

// A trace line up to its transfer length, without the outcome (the drive, 12 command bytes, the
// direction and the length are the first 15 words).
std::string WithoutOutcome(const std::string& line) {
  std::size_t end = 0;
  for (int word = 0; word < 15 && end != std::string::npos; ++word) end = line.find(' ', end + 1);
  return line.substr(0, end);
}

// The lines of one pass over chunks 0 to count - 1, each a write then a read of the same range.
std::vector<std::string> Pass(int count) {
  std::vector<std::string> lines;
  for (int chunk = 0; chunk < count; ++chunk) {
    const auto offset = static_cast<std::uint32_t>(chunk * kChunk);
    lines.push_back(TraceLine("D", WriteBlock(offset, kChunk, 0x00), "out", kChunk));
    lines.push_back(TraceLine("D", ReadBlock(offset, kChunk), "in", kChunk));
  }
  return lines;
}

sim::Fault CorruptRead(int occurrence) {
  sim::Fault fault;
  fault.command = 0x3C;
  fault.occurrence = occurrence;
  fault.kind = sim::FaultKind::Corrupt;
  return fault;
}

// --- Command blocks --------------------------------------------------------------------------

TEST(TransferCommands, WriteAndReadBufferCarryOffsetAndLengthIn24Bits) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  std::memset(machine.device.OutBuffer(), 0x5A, 0x3456);
  EXPECT_TRUE(machine.device.WriteBuffer(0x7E1234, 0x3456, 0x00));
  EXPECT_TRUE(machine.device.ReadBuffer(0x7E1234, 0x3456));
  EXPECT_EQ(machine.device.InBuffer()[0x3455], 0x5A);
  // Bits above the 24 are dropped.
  EXPECT_TRUE(machine.device.ReadBuffer(0x0A000010, 0x10));
  EXPECT_EQ(machine.system.Trace(), (std::vector<std::string>{
                                        "D 3B 05 01 7E 12 34 00 34 56 00 00 00 out 13398 good",
                                        "D 3C 01 01 7E 12 34 00 34 56 00 00 00 in 13398 good",
                                        "D 3C 01 01 00 00 10 00 00 10 00 00 00 in 16 good",
                                    }));
}

TEST(TransferCommands, LengthsPastTheBuffersSendNothing) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  EXPECT_FALSE(machine.device.ReadBuffer(0, 65537));
  EXPECT_FALSE(machine.device.ReadBuffer(0, -16384));
  EXPECT_FALSE(machine.device.WriteBuffer(0, 0x100000, 0x00));
  EXPECT_TRUE(machine.system.Trace().empty());
  EXPECT_TRUE(machine.device.WriteBuffer(0, 65536, 0x00));
  EXPECT_TRUE(machine.device.ReadBuffer(0, 65536));
}

TEST(TransferCommands, ProgrammingCommandsHaveNoDataPhase) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  machine.device.WriteBuffer(0, 0, 0x80);
  machine.device.WriteBuffer(0, 0, 0xA0);
  const std::vector<std::string> trace = machine.system.Trace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(WithoutOutcome(trace[0]), "D 3B 05 01 00 00 00 00 00 00 80 00 00 none 0");
  EXPECT_EQ(WithoutOutcome(trace[1]), "D 3B 05 01 00 00 00 00 00 00 A0 00 00 none 0");
}

TEST(TransferCommands, AnyOtherControlByteSendsData) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  machine.device.WriteBuffer(0, 1240, 0x7F);
  const std::vector<std::string> trace = CommandsWithCode(machine.system.Trace(), 0x3B);
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(WithoutOutcome(trace[0]), "D 3B 05 01 00 00 00 00 04 D8 7F 00 00 out 1240");
}

// --- Flash identity ----------------------------------------------------------------------------

TEST(ReadFlashId, SendsTheVendorCommandAndKeepsTheReply) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0}, FlashId{0xC2, 0x38, 0x00, 0x05})}));
  EXPECT_TRUE(machine.device.ReadFlashId());
  EXPECT_EQ(machine.system.Trace(),
            (std::vector<std::string>{"D DF 11 00 00 00 00 00 00 00 00 00 00 in 128 good"}));
  const std::uint8_t* reply = machine.device.InBuffer();
  EXPECT_EQ(reply[0], 0xC2);
  EXPECT_EQ(reply[1], 0x38);
  EXPECT_EQ(reply[2], 0x00);
  EXPECT_EQ(reply[3], 0x05);
}

TEST(ReadFlashId, AllZeroReplyIsNoIdentity) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0}, FlashId{0, 0, 0, 0})}));
  EXPECT_FALSE(machine.device.ReadFlashId());
  ASSERT_EQ(machine.system.Trace().size(), 1u);
  EXPECT_NE(machine.system.Trace()[0].find(" good"), std::string::npos);
}

TEST(ReadFlashId, ShortReplyCarriesNoBytesOfAnEarlierOne) {
  test::InstantDriveSystem system({0, 0, 0, 0});
  system.SetFlashIdReplyLength(4);
  test::QuietApplication application;
  AtapiDevice device(system, application);
  ASSERT_TRUE(device.SelectDrive(0));
  std::memset(device.InBuffer(), 0xEE, 128);
  EXPECT_FALSE(device.ReadFlashId());
  for (int i = 0; i < 128; ++i) ASSERT_EQ(device.InBuffer()[i], 0) << i;
}

TEST(ReadFlashId, FailedCommandIsNoIdentity) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  sim::Fault fault;
  fault.command = 0xDF;
  drive.faults.push_back(fault);
  FlashMachine machine(Bay({drive}));
  EXPECT_FALSE(machine.device.ReadFlashId());
}

// --- Image transfer ----------------------------------------------------------------------------

TEST(TransferImage, OneMiBGoesAsSixtyFourVerifiedChunks) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  const std::vector<std::uint8_t> image = Image(kOneMiB);
  EXPECT_TRUE(machine.device.TransferImage(image.data(), kOneMiB));
  const std::vector<std::string> trace = machine.system.Trace();
  EXPECT_EQ(trace, Pass(64));
  EXPECT_EQ(trace.back(), "D 3C 01 01 0F C0 00 00 40 00 00 00 00 in 16384 good");
  // The last chunk read back is the image's last chunk.
  EXPECT_EQ(std::memcmp(machine.device.InBuffer(), image.data() + kOneMiB - kChunk, kChunk), 0);
}

TEST(TransferImage, MismatchInChunkTenStartsTheNextAttemptAtChunkZero) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  drive.faults.push_back(CorruptRead(11));  // the read-back of chunk 10 in the first pass
  FlashMachine machine(Bay({drive}));
  const std::vector<std::uint8_t> image = Image(kOneMiB);
  EXPECT_TRUE(machine.device.TransferImage(image.data(), kOneMiB));
  std::vector<std::string> expected = Pass(11);
  const std::vector<std::string> second = Pass(64);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(machine.system.Trace(), expected);
}

TEST(TransferImage, GivesUpAfterExactlyThreeFailedPasses) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  // Chunk 5 is corrupted in every pass: each pass reads chunks 0 to 5.
  for (int occurrence : {6, 12, 18, 24}) drive.faults.push_back(CorruptRead(occurrence));
  FlashMachine machine(Bay({drive}));
  const std::vector<std::uint8_t> image = Image(kOneMiB);
  EXPECT_FALSE(machine.device.TransferImage(image.data(), kOneMiB));
  std::vector<std::string> expected;
  for (int pass = 0; pass < 3; ++pass) {
    const std::vector<std::string> lines = Pass(6);
    expected.insert(expected.end(), lines.begin(), lines.end());
  }
  EXPECT_EQ(machine.system.Trace(), expected);
}

TEST(TransferImage, FailedWriteEndsThePass) {
  sim::DriveConfig drive = Drive('D', {1, 0, 0, 0});
  sim::Fault fault;
  fault.command = 0x3B;
  fault.occurrence = 3;
  drive.faults.push_back(fault);
  FlashMachine machine(Bay({drive}));
  const std::vector<std::uint8_t> image = Image(4 * kChunk);
  EXPECT_TRUE(machine.device.TransferImage(image.data(), 4 * kChunk));
  const std::vector<std::string> trace = machine.system.Trace();
  ASSERT_EQ(trace.size(), 5u + 8u);
  EXPECT_EQ(trace[4], TraceLine("D", WriteBlock(2 * kChunk, kChunk, 0x00), "out", kChunk, "fail"));
  EXPECT_EQ(std::vector<std::string>(trace.begin() + 5, trace.end()), Pass(4));
}

TEST(TransferImage, ReadBackWithoutDataNeverPassesForTheChunk) {
  test::InstantDriveSystem system;
  test::QuietApplication application;
  AtapiDevice device(system, application);
  ASSERT_TRUE(device.SelectDrive(0));
  const std::vector<std::uint8_t> image(4 * kChunk, 0x77);
  ASSERT_TRUE(device.TransferImage(image.data(), 4 * kChunk));
  // The input buffer now holds a chunk equal to every chunk of the image; a read-back that
  // brings no data must not be taken for a good one.
  system.SetSilentReads(true);
  EXPECT_FALSE(device.TransferImage(image.data(), 4 * kChunk));
}

TEST(TransferImage, RefusesLengthsItCannotSendWhole) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  const std::vector<std::uint8_t> image = Image((16 << 20) + kChunk);
  for (std::int32_t length :
       {0, -kChunk, kChunk - 1, kChunk + 1, 3 * kChunk / 2, (16 << 20) + kChunk}) {
    EXPECT_FALSE(machine.device.TransferImage(image.data(), length)) << length;
  }
  EXPECT_FALSE(machine.device.TransferImage(nullptr, kChunk));
  EXPECT_TRUE(machine.system.Trace().empty());
}

TEST(TransferImage, SixteenMiBReachesTheLastTwentyFourBitOffset) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  const std::vector<std::uint8_t> image = Image(16 << 20);
  EXPECT_TRUE(machine.device.TransferImage(image.data(), 16 << 20));
  const std::vector<std::string> trace = machine.system.Trace();
  ASSERT_EQ(trace.size(), 2048u);
  EXPECT_EQ(trace[2046], "D 3B 05 01 FF C0 00 00 40 00 00 00 00 out 16384 good");
}

// --- Delay ---------------------------------------------------------------------------------

double VirtualSecondsOf(sim::SimSystem& system, const std::function<void()>& work) {
  const std::int64_t start = system.GetClock().NowNanoseconds();
  work();
  return static_cast<double>(system.GetClock().NowNanoseconds() - start) / 1e9;
}

// In sleeps of at most 10 ms: a busy wait would read the counter once for every 0.1 ms.
TEST(Delay, WaitsTheGivenTimeOnTheClockInShortSleeps) {
  for (const double seconds : {1.0, 0.0155, 0.0001}) {
    SCOPED_TRACE(seconds);
    FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
    const std::int64_t reads = machine.system.GetClock().Reads();
    const double waited = VirtualSecondsOf(machine.system, [&] { machine.device.Delay(seconds); });
    EXPECT_GE(waited, seconds);
    EXPECT_LT(waited, seconds + 0.0101);
    EXPECT_LE(machine.system.GetClock().Reads() - reads, 2 * (seconds / 0.01 + 2));
  }
}

TEST(Delay, EndsOnAMachineWithoutAHighResolutionCounter) {
  sim::SimSystem system(Bay({Drive('D', {1, 0, 0, 0})}));
  system.SetHighResolutionCounter(false);
  test::QuietApplication application;
  AtapiDevice device(system, application, false);
  const double waited = VirtualSecondsOf(system, [&] { device.Delay(1.0); });
  // The millisecond clock may have started just before its next tick.
  EXPECT_GE(waited, 0.999);
  EXPECT_LT(waited, 1.1);
}

TEST(Delay, LetsTheWindowThreadHandleItsMessages) {
  FlashMachine machine(Bay({Drive('D', {1, 0, 0, 0})}));
  bool handled = false;
  machine.application.Post([&] { handled = true; });
  machine.device.Delay(0.01);
  EXPECT_TRUE(handled);
}

}  // namespace
}  // namespace movrel::test
