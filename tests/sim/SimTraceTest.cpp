// The command trace: one line per command, byte for byte, the restart requests among them, and
// its copy in a file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "SimPorts.h"

namespace movrel::test {

namespace {

TEST(Trace, OneLinePerCommandWithBytesDirectionLengthAndOutcome) {
  sim::SimSystem system(OneDrive());
  AspiPort port(system);
  port.Send(WriteBuffer(0x4000, 0x4000, 0x00), Dir::Out, 16384);
  port.Send(Inquiry(), Dir::In, 96);
  system.AddFault("D", sim::Fault{0x12, std::nullopt, 1, sim::FaultKind::Short, {}, {}, 36});
  port.Send(Inquiry(), Dir::In, 96);
  system.AddFault(
      "D", sim::Fault{0x3C, std::nullopt, 1, sim::FaultKind::DescriptorSense, {0x05, 0x20, 0x00}});
  port.Send(ReadBuffer(0, 16), Dir::In, 16);
  system.ExitWindowsEx(6, 0);
  system.TakeDiscOut("D");
  port.Send(TestUnitReady(), Dir::None, 0);
  system.AddFault("D", sim::Fault{0x1B, std::nullopt, 0, sim::FaultKind::Fail, {}});
  port.Send(StartStop(0x02), Dir::None, 0);
  system.AddFault("D", sim::Fault{0x4A, std::nullopt, 0, sim::FaultKind::Timeout, {}});
  port.Send(EventStatus(), Dir::In, 8);
  system.FailCall("ExitWindowsEx");
  system.ExitWindowsEx(6, 0);
  EXPECT_EQ(system.Trace(), (std::vector<std::string>{
                                "D 3B 05 01 00 40 00 00 40 00 00 00 00 out 16384 good",
                                "D 12 00 00 00 60 00 00 00 00 00 00 00 in 96 good",
                                "D 12 00 00 00 60 00 00 00 00 00 00 00 in 96 short 36",
                                "D 3C 01 01 00 00 00 00 00 10 00 00 00 in 16 sense 05/20/00 "
                                "descriptor",
                                "- restart 6",
                                "D 00 00 00 00 00 00 00 00 00 00 00 00 none 0 sense 02/3A/00",
                                "D 1B 00 00 00 02 00 00 00 00 00 00 00 none 0 fail",
                                "D 4A 01 00 00 10 00 00 00 08 00 00 00 in 8 timeout",
                                "- restart 6 refused",
                            }));
}

TEST(Trace, RecordsTheHostsDirectionAndLengthAsSent) {
  sim::SimSystem system(OneDrive());
  AspiPort aspi(system);
  aspi.Send(WriteBuffer(0, 0, 0x80), Dir::Out, 5);
  EXPECT_EQ(system.Trace().at(0), "D 3B 05 01 00 00 00 00 00 00 80 00 00 out 5 sense 05/2C/00");
}

TEST(Trace, IsAppendedToAFile) {
  sim::SimSystem system(OneDrive());
  AspiPort port(system);
  port.Send(TestUnitReady(), Dir::None, 0);
  const std::string path = ::testing::TempDir() + "sim_trace_test.txt";
  std::remove(path.c_str());
  ASSERT_TRUE(system.AppendTrace(path));
  ASSERT_TRUE(system.AppendTrace(path));
  std::ifstream file(path);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string line = "D 00 00 00 00 00 00 00 00 00 00 00 00 none 0 good\n";
  EXPECT_EQ(text, line + line);
  std::remove(path.c_str());
  EXPECT_FALSE(system.AppendTrace(::testing::TempDir() + "no/such/folder/trace.txt"));
}

}  // namespace
}  // namespace movrel::test
