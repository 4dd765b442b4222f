// Each command of the drive's set and its answers.
#include <gtest/gtest.h>

#include <string>

#include "SimPorts.h"

namespace movrel::test {

namespace {

std::string Text(const std::vector<std::uint8_t>& data, std::size_t from, std::size_t length) {
  return std::string(data.begin() + from, data.begin() + from + length);
}

class DriveCommands : public ::testing::Test {
 protected:
  sim::SimSystem system{OneDrive()};
  AspiPort port{system};
};

TEST_F(DriveCommands, InquiryReportsTheSpacePaddedIdentityOfACdDvdDevice) {
  const Reply reply = port.Send(Inquiry(), Dir::In, 96);
  ASSERT_TRUE(reply.Good());
  EXPECT_EQ(reply.data[0], 0x05);
  EXPECT_EQ(Text(reply.data, 8, 8), "Dornavex");
  EXPECT_EQ(Text(reply.data, 16, 16), "DVDRW KTR-207M  ");
  EXPECT_EQ(Text(reply.data, 32, 4), "RV05");
}

TEST_F(DriveCommands, InquiryReturnsNoMoreThanItsAllocationLength) {
  const Reply reply = port.Send(Inquiry(16), Dir::In, 96, std::vector<std::uint8_t>(96, 0xEE));
  ASSERT_TRUE(reply.Good());
  EXPECT_EQ(Text(reply.data, 8, 8), "Dornavex");
  EXPECT_EQ(reply.data[16], 0xEE);
}

TEST_F(DriveCommands, InquiryOfAVitalProductDataPageIsAnInvalidField) {
  Cdb cdb = Inquiry();
  cdb[1] = 0x01;
  const Reply reply = port.Send(cdb, Dir::In, 96);
  EXPECT_EQ(reply.targetStatus, 2);
  EXPECT_EQ(reply.SenseText(), "05/24/00");
}

TEST_F(DriveCommands, AnUnknownOperationIsAnIllegalRequest) {
  const Reply reply = port.Send(Cdb{0x28}, Dir::In, 2048);
  EXPECT_TRUE(reply.completed);
  EXPECT_EQ(reply.targetStatus, 2);
  EXPECT_EQ(reply.SenseText(), "05/20/00");
}

TEST_F(DriveCommands, TestUnitReadyIsGoodWithADiscAndMediumNotPresentWithout) {
  EXPECT_TRUE(port.Send(TestUnitReady(), Dir::None, 0).Good());
  system.TakeDiscOut("D");
  EXPECT_EQ(port.Send(TestUnitReady(), Dir::None, 0).SenseText(), "02/3A/00");
}

TEST_F(DriveCommands, EjectOpensTheTrayWithTheDiscAndLoadClosesIt) {
  ASSERT_TRUE(port.Send(StartStop(0x02), Dir::None, 0).Good());
  EXPECT_TRUE(system.Drive("D").trayOpen);
  EXPECT_EQ(port.Send(EventStatus(), Dir::In, 8).data[5], 0x03);
  EXPECT_EQ(port.Send(TestUnitReady(), Dir::None, 0).SenseText(), "02/3A/00");

  ASSERT_TRUE(port.Send(StartStop(0x03), Dir::None, 0).Good());
  EXPECT_FALSE(system.Drive("D").trayOpen);
  EXPECT_EQ(port.Send(EventStatus(), Dir::In, 8).data[5], 0x02);
  EXPECT_EQ(port.Send(TestUnitReady(), Dir::None, 0).SenseText(), "06/28/00");
  EXPECT_TRUE(port.Send(TestUnitReady(), Dir::None, 0).Good());
}

TEST_F(DriveCommands, EjectHeldByAnotherProgramFailsAndTheDiscStays) {
  system.SetEjectLocked("D", true);
  EXPECT_EQ(port.Send(StartStop(0x02), Dir::None, 0).SenseText(), "05/53/02");
  EXPECT_FALSE(system.Drive("D").trayOpen);
  EXPECT_TRUE(system.Drive("D").medium);
  system.SetEjectLocked("D", false);
  EXPECT_TRUE(port.Send(StartStop(0x02), Dir::None, 0).Good());
  EXPECT_TRUE(system.Drive("D").trayOpen);
}

TEST_F(DriveCommands, WithoutATrayMotorLoadLeavesTheTrayOpenUntilAPersonPushesIt) {
  sim::BayConfig bay = OneDrive();
  bay.drives[0].trayOpen = true;
  bay.drives[0].trayMotor = false;
  sim::SimSystem laptop(bay);
  AspiPort laptopPort(laptop);
  EXPECT_TRUE(laptopPort.Send(StartStop(0x03), Dir::None, 0).Good());
  EXPECT_TRUE(laptop.Drive("D").trayOpen);
  laptop.PushTrayIn("D");
  EXPECT_FALSE(laptop.Drive("D").trayOpen);
  EXPECT_EQ(laptopPort.Send(EventStatus(), Dir::In, 8).data[5], 0x02);
}

TEST_F(DriveCommands, StopAndPowerConditions) {
  EXPECT_TRUE(port.Send(StartStop(0x00), Dir::None, 0).Good());
  EXPECT_FALSE(system.Drive("D").trayOpen);
  EXPECT_EQ(port.Send(StartStop(0x30), Dir::None, 0).SenseText(), "05/24/00");
}

TEST_F(DriveCommands, EventStatusDescribesTheMediaClass) {
  const Reply reply = port.Send(EventStatus(), Dir::In, 8);
  ASSERT_TRUE(reply.Good());
  EXPECT_EQ(std::vector<std::uint8_t>(reply.data.begin(), reply.data.begin() + 8),
            (std::vector<std::uint8_t>{0x00, 0x06, 0x04, 0x10, 0x00, 0x02, 0x00, 0x00}));
  system.TakeDiscOut("D");
  EXPECT_EQ(port.Send(EventStatus(), Dir::In, 8).data[5], 0x00);
}

TEST_F(DriveCommands, ADriveWithoutEventStatusRejectsTheCommand) {
  sim::BayConfig bay = OneDrive();
  bay.drives[0].eventStatus = false;
  sim::SimSystem old(bay);
  AspiPort oldPort(old);
  EXPECT_EQ(oldPort.Send(EventStatus(), Dir::In, 8).SenseText(), "05/20/00");
}

TEST_F(DriveCommands, FlashIdentityIsFourBytesThenZeros) {
  const Reply reply = port.Send(FlashId(), Dir::In, 128, std::vector<std::uint8_t>(128, 0xEE));
  ASSERT_TRUE(reply.Good());
  std::vector<std::uint8_t> expected(128, 0);
  expected[0] = 0xBF;
  expected[1] = 0xD8;
  expected[3] = 0x05;
  EXPECT_EQ(reply.data, expected);
}

TEST_F(DriveCommands, ReadBufferReturnsWhatWasWrittenAndZerosElsewhere) {
  std::vector<std::uint8_t> chunk(16384);
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(port.Send(WriteBuffer(0x4000, 16384, 0x00), Dir::Out, 16384, chunk).Good());
  EXPECT_EQ(port.Send(ReadBuffer(0x4000, 16384), Dir::In, 16384).data, chunk);
  const Reply before = port.Send(ReadBuffer(0, 16), Dir::In, 16);
  EXPECT_EQ(before.data, std::vector<std::uint8_t>(16, 0));
  const Reply straddling = port.Send(ReadBuffer(0x4000 + 16380, 8), Dir::In, 8);
  EXPECT_EQ(straddling.data, (std::vector<std::uint8_t>{chunk[16380], chunk[16381], chunk[16382],
                                                        chunk[16383], 0, 0, 0, 0}));
}

TEST_F(DriveCommands, BufferCommandsWithAnotherModeOrBufferAreInvalidFields) {
  Cdb write = WriteBuffer(0, 16, 0x00);
  write[1] = 0x04;
  EXPECT_EQ(port.Send(write, Dir::Out, 16).SenseText(), "05/24/00");
  Cdb read = ReadBuffer(0, 16);
  read[2] = 0x00;
  EXPECT_EQ(port.Send(read, Dir::In, 16).SenseText(), "05/24/00");
  EXPECT_EQ(port.Send(WriteBuffer(0, 16, 0x42), Dir::Out, 16).SenseText(), "05/24/00");
}

TEST_F(DriveCommands, ProgrammingTakesTheBufferedImageIntoFlash) {
  const std::vector<std::uint8_t> image(32768, 0x5A);
  ASSERT_TRUE(port.Send(WriteBuffer(0, 16384, 0x00), Dir::Out, 16384, image).Good());
  ASSERT_TRUE(port.Send(WriteBuffer(16384, 16384, 0x00), Dir::Out, 16384, image).Good());
  ASSERT_TRUE(port.Send(WriteBuffer(0, 0, 0x80), Dir::None, 0).Good());
  const sim::DriveState state = system.Drive("D");
  EXPECT_EQ(state.flash, image);
  EXPECT_EQ(state.flashCount, 1);
  EXPECT_FALSE(state.bootCode);
}

TEST_F(DriveCommands, ProgrammingWithA0AlsoMarksTheBootCode) {
  ASSERT_TRUE(port.Send(WriteBuffer(0, 16, 0x00), Dir::Out, 16).Good());
  ASSERT_TRUE(port.Send(WriteBuffer(0, 0, 0xA0), Dir::None, 0).Good());
  EXPECT_TRUE(system.Drive("D").bootCode);
}

TEST_F(DriveCommands, ProgrammingWithoutAnImageIsACommandSequenceError) {
  EXPECT_EQ(port.Send(WriteBuffer(0, 0, 0x80), Dir::None, 0).SenseText(), "05/2C/00");
  EXPECT_EQ(system.Drive("D").flashCount, 0);
}

TEST_F(DriveCommands, AfterProgrammingTheDriveRestartsWithOneUnitAttention) {
  ASSERT_TRUE(port.Send(WriteBuffer(0, 16, 0x00), Dir::Out, 16).Good());
  ASSERT_TRUE(port.Send(WriteBuffer(0, 0, 0x80), Dir::None, 0).Good());
  EXPECT_EQ(port.Send(TestUnitReady(), Dir::None, 0).SenseText(), "06/29/00");
  EXPECT_TRUE(port.Send(TestUnitReady(), Dir::None, 0).Good());
  // The buffer went with the restart.
  EXPECT_EQ(port.Send(ReadBuffer(0, 16), Dir::In, 16).data, std::vector<std::uint8_t>(16, 0));
}

}  // namespace
}  // namespace movrel::test
