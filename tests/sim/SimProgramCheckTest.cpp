// The drive's check of the drive-side flash program it receives, and the identity record of a
// simulated image.
#include <gtest/gtest.h>

#include "SimPorts.h"
#include "sim/ImageIdentity.h"

namespace movrel::test {

namespace {

sim::BayConfig DriveWithFlash(std::array<std::uint8_t, 4> flashId) {
  sim::BayConfig bay = OneDrive();
  bay.drives[0].flashId = flashId;
  return bay;
}

// Header then `programBytes` bytes of program.
std::vector<std::uint8_t> Program(std::vector<std::uint8_t> header, std::size_t programBytes) {
  header.resize(header.size() + programBytes, 0x77);
  return header;
}

class ProgramCheck : public ::testing::Test {
 protected:
  void Start(std::array<std::uint8_t, 4> flashId) {
    system = std::make_unique<sim::SimSystem>(DriveWithFlash(flashId));
    port = std::make_unique<AspiPort>(*system);
  }
  std::string Verdict(std::uint32_t offset, std::uint8_t control,
                      const std::vector<std::uint8_t>& bytes) {
    system->ClearTrace();
    const auto length = static_cast<std::uint32_t>(bytes.size());
    EXPECT_TRUE(port->Send(WriteBuffer(offset, length, control), Dir::Out, length, bytes).Good());
    const std::vector<std::string> trace = system->Trace();
    return trace.size() == 2 ? trace[1] : "(no verdict)";
  }
  std::unique_ptr<sim::SimSystem> system;
  std::unique_ptr<AspiPort> port;
};

TEST_F(ProgramCheck, KeepsWhatItReceived) {
  Start({0xBF, 0xD8, 0x00, 0x05});
  const auto program = Program({0xBF, 0xD8, 0x00, 0x05, 0x04, 0xD2}, 1234);
  EXPECT_EQ(Verdict(0, 0x7F, program), "D program row 19 match");
  const auto received = system->Drive("D").lastProgram;
  ASSERT_TRUE(received);
  EXPECT_EQ(received->row, 19);
  EXPECT_EQ(received->bytes, program);
  EXPECT_EQ(received->offset, 0u);
  EXPECT_EQ(received->control, 0x7F);
  EXPECT_EQ(received->length, 1240u);
}

TEST_F(ProgramCheck, AWrongHeaderLengthOrOffsetIsAMismatch) {
  Start({0xBF, 0xD8, 0x00, 0x05});
  EXPECT_EQ(Verdict(0, 0x7F, Program({0xBF, 0xD8, 0x00, 0x05, 0x04, 0xD3}, 1234)),
            "D program mismatch");
  EXPECT_EQ(Verdict(0, 0x7F, Program({0xBF, 0xD8, 0x00, 0x06, 0x04, 0xD2}, 1234)),
            "D program mismatch");
  EXPECT_EQ(Verdict(0, 0x7F, Program({0xBF, 0xD8, 0x00, 0x05, 0x04, 0xD2}, 1228)),
            "D program mismatch");
  EXPECT_EQ(Verdict(0x100, 0x7F, Program({0xBF, 0xD8, 0x00, 0x05, 0x04, 0xD2}, 1234)),
            "D program mismatch");
  EXPECT_EQ(Verdict(0x80000, 0x00, Program({0xBF, 0xD8, 0x00, 0x05}, 1236)), "D program mismatch");
  EXPECT_EQ(system->Drive("D").lastProgram->row, -1);
}

TEST_F(ProgramCheck, Row0TakesAFourByteHeaderAtTheLowProgramOffsetBeforeAnyImage) {
  Start({0xDA, 0xC8, 0x00, 0x00});
  EXPECT_EQ(Verdict(0x80000, 0x00, Program({0xDA, 0xC8, 0x00, 0x00}, 314)),
            "D program row 0 match");
  // The program is not image data.
  EXPECT_EQ(port->Send(ReadBuffer(0x80000, 4), Dir::In, 4).data, std::vector<std::uint8_t>(4, 0));
  // Once image data has arrived, the same offset is just more image.
  EXPECT_EQ(Verdict(0, 0x00, std::vector<std::uint8_t>(16, 1)), "(no verdict)");
  EXPECT_EQ(Verdict(0x80000, 0x00, Program({0xDA, 0xC8, 0x00, 0x00}, 314)), "(no verdict)");
  EXPECT_EQ(port->Send(ReadBuffer(0x80000, 4), Dir::In, 4).data,
            (std::vector<std::uint8_t>{0xDA, 0xC8, 0x00, 0x00}));
  // The next update begins by asking for the flash identity.
  port->Send(FlashId(), Dir::In, 128);
  EXPECT_EQ(Verdict(0x80000, 0x00, Program({0xDA, 0xC8, 0x00, 0x00}, 314)),
            "D program row 0 match");
}

TEST_F(ProgramCheck, ADriveWhoseFlashNoRowKnowsRejectsEveryProgram) {
  Start({0xBF, 0xD8, 0x00, 0x07});
  EXPECT_EQ(Verdict(0, 0x7F, Program({0xBF, 0xD8, 0x00, 0x07, 0x04, 0xD2}, 1234)),
            "D program mismatch");
}

// How each kind of row takes its program: the header, where it goes and how many bytes.
struct Delivery {
  std::array<std::uint8_t, 4> flashId;
  std::vector<std::uint8_t> header;
  std::size_t programBytes;  // sent after the header
  std::uint32_t offset;
  std::uint8_t control;
  int row;
};

class ProgramRows : public ProgramCheck, public ::testing::WithParamInterface<Delivery> {};

TEST_P(ProgramRows, AcceptTheirProgramAndNotOneTwoBytesLonger) {
  const Delivery& delivery = GetParam();
  Start(delivery.flashId);
  const auto program = Program(delivery.header, delivery.programBytes);
  EXPECT_EQ(Verdict(delivery.offset, delivery.control, program),
            "D program row " + std::to_string(delivery.row) + " match");
  EXPECT_EQ(Verdict(delivery.offset, delivery.control,
                    Program(delivery.header, delivery.programBytes + 2)),
            "D program mismatch");
}

INSTANTIATE_TEST_SUITE_P(
    ProgramCheck, ProgramRows,
    ::testing::Values(
        // Rows 0 and 1: four-byte header, at the low program offset with control 0x00.
        Delivery{{0xDA, 0xC8, 0x00, 0x00}, {0xDA, 0xC8, 0x00, 0x00}, 314, 0x80000, 0x00, 0},
        Delivery{{0xBF, 0xB4, 0x00, 0x00}, {0xBF, 0xB4, 0x00, 0x00}, 452, 0x80000, 0x00, 1},
        // Rows 2 to 4: six-byte header counted inside the size.
        Delivery{{0xBF, 0xD6, 0x00, 0x01}, {0xBF, 0xD6, 0x00, 0x01, 0x05, 0x00}, 1274, 0, 0x7F, 2},
        Delivery{{0x37, 0x8C, 0x00, 0x01}, {0x37, 0x8C, 0x00, 0x01, 0x05, 0x00}, 1274, 0, 0x7F, 4},
        // Rows 5 to 24: six-byte header on top of the size.
        Delivery{{0xBF, 0xD7, 0x00, 0x03}, {0xBF, 0xD7, 0x00, 0x03, 0x03, 0xE6}, 998, 0, 0x7F, 5},
        Delivery{{0xBF, 0xD6, 0x00, 0x02}, {0xBF, 0xD6, 0x00, 0x02, 0x02, 0xB6}, 694, 0, 0x7F, 8},
        Delivery{{0xBF, 0xD8, 0x00, 0x05}, {0xBF, 0xD8, 0x00, 0x05, 0x04, 0xD2}, 1234, 0, 0x7F, 19},
        Delivery{{0xC2, 0x38, 0x00, 0x05}, {0xC2, 0x38, 0x00, 0x05, 0x04, 0xD2}, 1234, 0, 0x7F, 22},
        Delivery{
            {0x01, 0x37, 0x00, 0x06}, {0x01, 0x37, 0x00, 0x06, 0x04, 0x62}, 1122, 0, 0x7F, 24}));

// --- Image identity ------------------------------------------------------------------------------

std::vector<std::uint8_t> StampedImage(const char* revision) {
  std::vector<std::uint8_t> image(32768, 0xC3);
  sim::StampImageIdentity(image.data(), {"Dornavex", "DVDRW KTR-207M", revision});
  return image;
}

void Flash(AspiPort& port, const std::vector<std::uint8_t>& image) {
  for (std::uint32_t offset = 0; offset < image.size(); offset += 16384) {
    const std::vector<std::uint8_t> chunk(image.begin() + offset, image.begin() + offset + 16384);
    ASSERT_TRUE(port.Send(WriteBuffer(offset, 16384, 0), Dir::Out, 16384, chunk).Good());
  }
  ASSERT_TRUE(port.Send(WriteBuffer(0, 0, 0x80), Dir::None, 0).Good());
}

TEST(ImageIdentity, StampAndReadBackWithPadding) {
  std::vector<std::uint8_t> image(64, 0xFF);
  sim::StampImageIdentity(image.data(), {"Ab", "Cd", "R1"});
  const auto identity = sim::ReadImageIdentity(image.data(), image.size());
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->vendor, "Ab      ");
  EXPECT_EQ(identity->product, "Cd              ");
  EXPECT_EQ(identity->revision, "R1  ");
  EXPECT_EQ(image[44], 0);
  EXPECT_EQ(image[63], 0);
  EXPECT_FALSE(sim::ReadImageIdentity(image.data(), 63));
  image[0] = 'm';
  EXPECT_FALSE(sim::ReadImageIdentity(image.data(), image.size()));
}

TEST(ImageIdentity, AProgrammedImageChangesWhatInquiryReports) {
  sim::SimSystem system(OneDrive());
  AspiPort port(system);
  Flash(port, StampedImage("RV06"));
  const Reply inquiry = port.Send(Inquiry(), Dir::In, 96);
  EXPECT_EQ(std::string(inquiry.data.begin() + 32, inquiry.data.begin() + 36), "RV06");
  EXPECT_EQ(system.Drive("D").revision, "RV06");
}

TEST(ImageIdentity, AnImageWithoutTheRecordLeavesTheIdentity) {
  sim::SimSystem system(OneDrive());
  AspiPort port(system);
  Flash(port, std::vector<std::uint8_t>(32768, 0x11));
  EXPECT_EQ(system.Drive("D").revision, "RV05");
  EXPECT_EQ(system.Drive("D").flashCount, 1);
}

}  // namespace
}  // namespace movrel::test
