// Readiness and unit attention on the virtual clock.
#include <gtest/gtest.h>

#include "SimPorts.h"

namespace movrel::test {

namespace {

class Readiness : public ::testing::Test {
 protected:
  std::string Tur() { return Answer(port->Send(TestUnitReady(), Dir::None, 0)); }
  static std::string Answer(const Reply& reply) {
    return reply.Good() ? "good" : reply.SenseText();
  }
  void Start(const sim::BayConfig& bay) {
    port.reset();  // it releases the library of the machine it was loaded on
    system = std::make_unique<sim::SimSystem>(bay);
    port = std::make_unique<AspiPort>(*system);
  }
  std::unique_ptr<sim::SimSystem> system;
  std::unique_ptr<AspiPort> port;
};

TEST_F(Readiness, BecomingReadyForTheGivenSecondsAfterPowerOnOrNeverBeyondTheClock) {
  // 9223372036 s still converts, but the clock overflows adding it to the time of power-on.
  for (const auto& [seconds, ready] : {std::pair{2.0, "good"},
                                       {9223372036.0, "02/04/01"},
                                       {9.3e9, "02/04/01"},
                                       {1e300, "02/04/01"}}) {
    sim::BayConfig bay = OneDrive();
    bay.drives[0].notReadySeconds = seconds;
    Start(bay);
    EXPECT_EQ(Tur(), "02/04/01");
    system->Sleep(1900);
    EXPECT_EQ(Tur(), "02/04/01");
    system->Sleep(200);
    EXPECT_EQ(Tur(), ready) << seconds << " s";
  }
}

TEST_F(Readiness, BecomingReadyAgainAfterALoadWithTheMediumChangeFirst) {
  sim::BayConfig bay = OneDrive();
  bay.drives[0].notReadySeconds = 5;
  Start(bay);
  system->Sleep(6000);
  ASSERT_EQ(Tur(), "good");
  port->Send(StartStop(0x02), Dir::None, 0);
  port->Send(StartStop(0x03), Dir::None, 0);
  EXPECT_EQ(Tur(), "06/28/00");
  EXPECT_EQ(Tur(), "02/04/01");
  system->Sleep(5000);
  EXPECT_EQ(Tur(), "good");
}

TEST_F(Readiness, WithoutADiscTheDriveBecomesReadyThenReportsNoMedium) {
  sim::BayConfig bay = OneDrive();
  bay.drives[0].medium = false;
  bay.drives[0].notReadySeconds = 1;
  Start(bay);
  EXPECT_EQ(Tur(), "02/04/01");
  system->Sleep(1000);
  EXPECT_EQ(Tur(), "02/3A/00");
}

TEST_F(Readiness, AnOpenTrayIsNoMediumAtOnce) {
  sim::BayConfig bay = OneDrive();
  bay.drives[0].trayOpen = true;
  bay.drives[0].notReadySeconds = 10;
  Start(bay);
  EXPECT_EQ(Tur(), "02/3A/00");
}

TEST_F(Readiness, PowerOnUnitAttentionsAreReportedOncePerCountButNotToInquiryOrEventStatus) {
  sim::BayConfig bay = OneDrive();
  bay.drives[0].unitAttention = 2;
  Start(bay);
  EXPECT_EQ(Answer(port->Send(Inquiry(), Dir::In, 96)), "good");
  EXPECT_EQ(Answer(port->Send(EventStatus(), Dir::In, 8)), "good");
  EXPECT_EQ(Tur(), "06/29/00");
  EXPECT_EQ(Answer(port->Send(FlashId(), Dir::In, 128)), "06/29/00");
  EXPECT_EQ(Tur(), "good");
}

TEST_F(Readiness, ADiscPutInTheOpenTrayAndPushedInIsAMediumChange) {
  sim::BayConfig bay = OneDrive();
  bay.drives[0].medium = false;
  bay.drives[0].trayOpen = true;
  bay.drives[0].trayMotor = false;
  Start(bay);
  system->InsertDisc("D");
  EXPECT_EQ(Tur(), "02/3A/00");
  system->PushTrayIn("D");
  EXPECT_EQ(Tur(), "06/28/00");
  EXPECT_EQ(Tur(), "good");
}

TEST_F(Readiness, ADiscTakenOutOfAClosedDriveIsNoMediumWithoutAttention) {
  Start(OneDrive());
  system->TakeDiscOut("D");
  EXPECT_EQ(Tur(), "02/3A/00");
  EXPECT_FALSE(system->Drive("D").medium);
}

}  // namespace
}  // namespace movrel::test
