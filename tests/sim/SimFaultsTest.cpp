// Scripted faults: each kind, and the occurrence and control filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "SimPorts.h"

namespace movrel::test {

namespace {

using namespace platform;
using sim::FaultKind;

sim::Fault On(std::uint8_t command, FaultKind kind, int occurrence = 0,
              std::optional<std::uint8_t> control = std::nullopt,
              std::array<std::uint8_t, 3> sense = {}) {
  return sim::Fault{command, control, occurrence, kind, sense};
}

class Faults : public ::testing::Test {
 protected:
  sim::SimSystem system{OneDrive()};
  AspiPort port{system};
  std::string Outcome(std::size_t line) {
    const std::string text = system.Trace().at(line);
    return text.substr(text.find(' ', 38) + 1);
  }
};

TEST_F(Faults, FailOnTheNthCommandOnly) {
  system.AddFault("D", On(0x00, FaultKind::Fail, 2));
  EXPECT_TRUE(port.Send(TestUnitReady(), Dir::None, 0).Good());
  const Reply failed = port.Send(TestUnitReady(), Dir::None, 0);
  EXPECT_FALSE(failed.completed);
  EXPECT_TRUE(port.Send(TestUnitReady(), Dir::None, 0).Good());
  EXPECT_EQ(Outcome(1), "0 fail");
}

TEST_F(Faults, FailIsAnErrorWithoutSense) {
  system.AddFault("D", On(0x12, FaultKind::Fail));
  const Reply reply = port.Send(Inquiry(), Dir::In, 96);
  EXPECT_EQ(reply.status, SS_ERR);
  EXPECT_EQ(reply.targetStatus, 0);
  EXPECT_EQ(reply.sense[0], 0);
  EXPECT_FALSE(reply.completed);
}

TEST_F(Faults, SenseOnEveryCommandAndTheCommandIsNotCarriedOut) {
  system.AddFault("D", On(0x1B, FaultKind::Sense, 0, std::nullopt, {0x04, 0x44, 0x00}));
  EXPECT_EQ(port.Send(StartStop(0x02), Dir::None, 0).SenseText(), "04/44/00");
  EXPECT_EQ(port.Send(StartStop(0x02), Dir::None, 0).SenseText(), "04/44/00");
  EXPECT_FALSE(system.Drive("D").trayOpen);
}

TEST_F(Faults, DescriptorSenseComesInThatFormat) {
  system.AddFault("D", On(0x3C, FaultKind::DescriptorSense, 0, std::nullopt, {0x05, 0x20, 0x00}));
  EXPECT_EQ(port.Send(ReadBuffer(0, 16), Dir::In, 16).targetStatus, 2);  // CHECK CONDITION
  const std::vector<std::uint8_t> area(port.request.SenseArea, port.request.SenseArea + 10);
  EXPECT_EQ(area, (std::vector<std::uint8_t>{0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0, 0, 0}));
}

TEST_F(Faults, ShortMovesOnlyTheFirstBytesEitherWay) {
  const std::vector<std::uint8_t> chunk(16, 0x3C);
  port.Send(WriteBuffer(0, 16, 0), Dir::Out, 16, chunk);
  system.AddFault("D", sim::Fault{0x3C, std::nullopt, 1, FaultKind::Short, {}, {}, 10});
  std::vector<std::uint8_t> expected(16, 0);
  std::fill_n(expected.begin(), 10, 0x3C);
  EXPECT_EQ(port.Send(ReadBuffer(0, 16), Dir::In, 16).data, expected);

  system.AddFault("D", sim::Fault{0x3B, std::nullopt, 1, FaultKind::Short, {}, {}, 4});
  port.Send(WriteBuffer(0, 16, 0), Dir::Out, 16, std::vector<std::uint8_t>(16, 0x11));
  std::fill_n(expected.begin(), 16, 0x3C);
  std::fill_n(expected.begin(), 4, 0x11);
  EXPECT_EQ(port.Send(ReadBuffer(0, 16), Dir::In, 16).data, expected);
  EXPECT_EQ(Outcome(1), "16 short 10");
  EXPECT_EQ(Outcome(2), "16 short 4");
}

TEST_F(Faults, TheControlByteFilterPicksOneKindOfWriteBuffer) {
  system.AddFault("D", On(0x3B, FaultKind::Sense, 2, 0x80, {0x03, 0x0C, 0x00}));
  const std::vector<std::uint8_t> chunk(16, 1);
  EXPECT_TRUE(port.Send(WriteBuffer(0, 16, 0x00), Dir::Out, 16, chunk).Good());
  EXPECT_TRUE(port.Send(WriteBuffer(16, 16, 0x00), Dir::Out, 16, chunk).Good());
  EXPECT_TRUE(port.Send(WriteBuffer(0, 0, 0x80), Dir::None, 0).Good());  // first 0x80
  port.Send(WriteBuffer(0, 16, 0x00), Dir::Out, 16, chunk);
  EXPECT_EQ(port.Send(WriteBuffer(0, 0, 0x80), Dir::None, 0).SenseText(), "03/0C/00");
  EXPECT_EQ(system.Drive("D").flashCount, 1);
}

TEST_F(Faults, EveryWatchingFaultCountsTheFirstThatFiresWins) {
  system.AddFault("D", On(0x00, FaultKind::Sense, 2, std::nullopt, {0x02, 0x04, 0x01}));
  system.AddFault("D", On(0x00, FaultKind::Fail, 2));
  system.AddFault("D", On(0x00, FaultKind::Fail, 3));
  port.Send(TestUnitReady(), Dir::None, 0);
  EXPECT_EQ(port.Send(TestUnitReady(), Dir::None, 0).SenseText(), "02/04/01");
  EXPECT_FALSE(port.Send(TestUnitReady(), Dir::None, 0).completed);
}

TEST_F(Faults, AFaultAddedLaterCountsFromThen) {
  port.Send(TestUnitReady(), Dir::None, 0);
  port.Send(TestUnitReady(), Dir::None, 0);
  system.AddFault("D", On(0x00, FaultKind::Fail, 1));
  EXPECT_FALSE(port.Send(TestUnitReady(), Dir::None, 0).completed);
}

TEST_F(Faults, CorruptFlipsOneByteOfTheReadBackOnly) {
  const std::vector<std::uint8_t> chunk(16384, 0x3C);
  port.Send(WriteBuffer(0, 16384, 0), Dir::Out, 16384, chunk);
  system.AddFault("D", On(0x3C, FaultKind::Corrupt, 1));
  const Reply corrupted = port.Send(ReadBuffer(0, 16384), Dir::In, 16384);
  EXPECT_TRUE(corrupted.Good());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < chunk.size(); ++i) differing += corrupted.data[i] != chunk[i];
  EXPECT_EQ(differing, 1u);
  EXPECT_EQ(port.Send(ReadBuffer(0, 16384), Dir::In, 16384).data, chunk);
  EXPECT_EQ(Outcome(1), "16384 good");
}

struct Corruption {
  std::uint8_t faultOn;
  std::optional<std::uint32_t> byte;  // as the description names it
  Cdb read;
  std::uint32_t length;
  std::vector<std::size_t> flipped;  // bytes of the read's reply that differ
};

TEST(Corrupt, HitsAByteTheHostReadsOrTheNamedOneAndAWriteKeepsIt) {
  const std::vector<std::uint8_t> chunk(16384, 0x3C);
  const auto reply = [&chunk](std::optional<sim::Fault> fault, const Cdb& read,
                              std::uint32_t length) {
    sim::SimSystem system(OneDrive());
    if (fault) system.AddFault("D", *fault);
    AspiPort port(system);
    port.Send(WriteBuffer(0, 16384, 0), Dir::Out, 16384, chunk);
    return port.Send(read, Dir::In, length);
  };
  const Corruption cases[] = {
      {0x12, std::nullopt, Inquiry(), 96, {8}},  // the vendor
      {0x12, 35, Inquiry(), 96, {35}},
      {0x12, 40, Inquiry(36), 96, {}},  // beyond the reply
      {0xDF, std::nullopt, FlashId(), 128, {0}},
      {0x4A, std::nullopt, EventStatus(), 8, {5}},  // the media status
      {0x3C, std::nullopt, ReadBuffer(0, 16384), 16384, {8192}},
      {0x3B, std::nullopt, ReadBuffer(0, 16384), 16384, {8192}},
      {0x3B, 16383, ReadBuffer(0, 16384), 16384, {16383}},
  };
  for (const Corruption& c : cases) {
    sim::Fault fault = On(c.faultOn, FaultKind::Corrupt, 1);
    fault.byte = c.byte;
    const Reply corrupted = reply(fault, c.read, c.length);
    const Reply clean = reply(std::nullopt, c.read, c.length);
    EXPECT_TRUE(corrupted.Good());
    std::vector<std::size_t> differing;
    for (std::size_t i = 0; i < c.length; ++i) {
      if (corrupted.data[i] != clean.data[i]) differing.push_back(i);
    }
    EXPECT_EQ(differing, c.flipped) << "fault on " << int{c.faultOn} << ", read " << int{c.read[0]};
  }
}

TEST_F(Faults, TimeoutStaysPendingUntilAborted) {
  system.AddFault("D", On(0x00, FaultKind::Timeout, 1));
  const std::int64_t before = system.GetClock().NowNanoseconds();
  const Reply reply = port.Send(TestUnitReady(), Dir::None, 0);
  EXPECT_EQ(Outcome(0), "0 timeout");
  EXPECT_EQ(reply.status, SS_PENDING);
  EXPECT_GE(system.GetClock().NowNanoseconds() - before, 108000LL * 1'000'000'000);
  EXPECT_EQ(system.AspiPendingRequests(), 1u);

  SrbAbort abort{};
  abort.SRB_Cmd = SC_ABORT_SRB;
  abort.SRB_HaId = 1;
  abort.SRB_ToAbort = &port.request;
  EXPECT_EQ(port.Post(&abort), SS_COMP);
  EXPECT_EQ(port.request.SRB_Status, SS_ABORTED);
  EXPECT_EQ(system.AspiPendingRequests(), 0u);
  EXPECT_EQ(port.Post(&abort), 0x03u);  // nothing left to abort
}

TEST(Pending, IsLetGoWhenItsBlockIsPostedAgainOrTheLibraryReleased) {
  sim::SimSystem system(OneDrive());
  system.AddFault("D", On(0x00, FaultKind::Timeout, 0));
  {
    AspiPort aspi(system);
    aspi.Send(TestUnitReady(), Dir::None, 0);
    aspi.Send(TestUnitReady(), Dir::None, 0);
    EXPECT_EQ(system.AspiPendingRequests(), 1u);
  }
  EXPECT_EQ(system.AspiPendingRequests(), 0u);
}

TEST_F(Faults, VanishTakesTheDriveAwayForGood) {
  sim::BayConfig bay = OneDrive();
  bay.drives[0].faults = {On(0xDF, FaultKind::Vanish, 1)};
  sim::SimSystem machine(bay);
  const Handle open = machine.CreateFileA("\\\\.\\D:");
  AspiPort aspi(machine);
  EXPECT_TRUE(aspi.Send(TestUnitReady(), Dir::None, 0).Good());
  EXPECT_FALSE(aspi.Send(FlashId(), Dir::In, 128).completed);
  EXPECT_FALSE(aspi.Send(Inquiry(), Dir::In, 96).completed);
  EXPECT_TRUE(machine.Drive("D").vanished);
  // Its open device answers no more, and it cannot be opened again.
  ScsiAddress address{};
  std::uint32_t returned = 0;
  EXPECT_FALSE(machine.DeviceIoControl(open, ioctl::ScsiGetAddress, nullptr, 0, &address,
                                       sizeof address, &returned));
  EXPECT_EQ(machine.CreateFileA("\\\\.\\D:"), InvalidHandleValue);

  SrbGetDeviceBlock type{};
  type.SRB_Cmd = SC_GET_DEV_TYPE;
  type.SRB_HaId = 1;
  type.SRB_Target = 2;
  EXPECT_EQ(aspi.Post(&type), SS_NO_DEVICE);
  const std::vector<std::string> trace = machine.Trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[2], "D 12 00 00 00 60 00 00 00 00 00 00 00 in 96 fail");
}

}  // namespace
}  // namespace movrel::test
