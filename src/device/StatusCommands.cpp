// The standard status and tray commands (GET EVENT STATUS NOTIFICATION, INQUIRY, PREVENT ALLOW
// MEDIUM REMOVAL, START STOP UNIT, TEST UNIT READY), the predicates over the last sense data, and
// the waits built on them.
#include <cstring>

#include "device/AtapiDevice.h"
#include "platform/System.h"

namespace movrel::device {

namespace {
constexpr CommandBlock kGetEventStatusTemplate{0x4A};
constexpr CommandBlock kInquiryTemplate{0x12};
constexpr CommandBlock kStartStopUnitTemplate{0x1B};
constexpr CommandBlock kPreventAllowMediumRemovalTemplate{0x1E};
constexpr CommandBlock kTestUnitReadyTemplate{0x00};

constexpr std::uint8_t kNotReady = 0x02;
constexpr std::uint8_t kUnitAttention = 0x06;
constexpr std::uint8_t kBecomingReady = 0x04;
constexpr std::uint8_t kMediumNotPresent = 0x3A;

constexpr std::uint32_t kReadyPollMilliseconds = 300;
constexpr std::int32_t kMediumWaitSeconds = 30;
// A drive that reports UNIT ATTENTION on every TEST UNIT READY must not hold the caller for good.
constexpr int kMaxUnitAttentions = 100;

constexpr std::uint8_t kMediaClass = 0x10;
constexpr std::uint16_t kMediaReplyLength = 8;
constexpr int kMediaStatusByte = 5;
constexpr std::uint8_t kDoorOrTrayOpen = 0x01;
}  // namespace

bool AtapiDevice::GetEventStatus(std::uint8_t polled, std::uint8_t classRequest,
                                 std::uint16_t allocationLength, std::uint8_t control) {
  CommandBlock command = kGetEventStatusTemplate;
  command[1] = polled & 1;
  command[4] = classRequest;
  command[7] = static_cast<std::uint8_t>(allocationLength >> 8);
  command[8] = static_cast<std::uint8_t>(allocationLength);
  command[9] = control;
  // A short reply must not carry bytes of an earlier one.
  if (BuffersFree()) std::memset(inBuffer, 0, allocationLength);
  return ExecuteCommand(command, DataDirection::FromDrive, allocationLength);
}

bool AtapiDevice::Inquiry(std::uint8_t cmdDt, std::uint8_t evpd, std::uint8_t pageCode,
                          std::uint8_t allocationLength, std::uint8_t control) {
  CommandBlock command = kInquiryTemplate;
  command[1] = static_cast<std::uint8_t>((cmdDt & 1) * 2 + (evpd & 1));
  command[2] = pageCode;
  command[4] = allocationLength;
  command[5] = control;
  // A short reply must not carry bytes of an earlier reply, or of another drive.
  if (BuffersFree()) std::memset(inBuffer, 0, allocationLength);
  return ExecuteCommand(command, DataDirection::FromDrive, allocationLength);
}

bool AtapiDevice::StartStopUnit(std::uint8_t immed, std::uint8_t powerCondition, std::uint8_t loEj,
                                std::uint8_t start) {
  CommandBlock command = kStartStopUnitTemplate;
  command[1] = immed & 1;
  command[4] =
      static_cast<std::uint8_t>((powerCondition & 0x0F) * 16 + (loEj & 1) * 2 + (start & 1));
  return ExecuteCommand(command, DataDirection::NoData, 0);
}

bool AtapiDevice::PreventAllowMediumRemoval(std::uint8_t prevent) {
  CommandBlock command = kPreventAllowMediumRemovalTemplate;
  command[4] = prevent & 0x03;
  return ExecuteCommand(command, DataDirection::NoData, 0);
}

bool AtapiDevice::TestUnitReady() {
  return ExecuteCommand(kTestUnitReadyTemplate, DataDirection::NoData, 0);
}

bool AtapiDevice::SenseIs(std::uint8_t key, std::uint8_t code) const {
  return senseKey == key && asc == code;
}

bool AtapiDevice::SenseKeyIs(std::uint8_t key) const {
  return senseKey == key;
}

bool AtapiDevice::WaitUnitReady(std::int32_t seconds) {
  const bool limited = seconds > 0;
  bool timedOut = false;
  if (limited) waitTimer.Start();
  for (;;) {
    TestUnitReady();
    if (!SenseIs(kNotReady, kBecomingReady) && !SenseKeyIs(kUnitAttention)) break;
    if (limited && waitTimer.LapSeconds() >= static_cast<double>(seconds)) {
      timedOut = true;
      break;
    }
    system.Sleep(kReadyPollMilliseconds);
  }
  // The final answer stays in the device for the caller to test.
  TestUnitReady();
  if (limited) waitTimer.Stop();
  return !timedOut;
}

bool AtapiDevice::WaitUntilAnswering(std::int32_t seconds) {
  waitTimer.Start();
  bool answered = false;
  for (;;) {
    answered = TestUnitReady() || LastResult() != kNoAnswer;
    if (answered || waitTimer.LapSeconds() >= static_cast<double>(seconds)) break;
    system.Sleep(kAnswerPollMilliseconds);
  }
  waitTimer.Stop();
  return answered;
}

bool AtapiDevice::MediumAbsent() {
  WaitUnitReady(kMediumWaitSeconds);
  return SenseIs(kNotReady, kMediumNotPresent);
}

void AtapiDevice::WaitWhileUnitAttention() {
  for (int sent = 0; sent < kMaxUnitAttentions; ++sent) {
    if (TestUnitReady() || !SenseKeyIs(kUnitAttention)) return;
  }
}

bool AtapiDevice::TrayOpen() {
  return GetEventStatus(1, kMediaClass, kMediaReplyLength, 0) &&
         (inBuffer[kMediaStatusByte] & kDoorOrTrayOpen) != 0;
}

bool AtapiDevice::LoadTray() {
  return StartStopUnit(0, 0, 1, 1);
}

bool AtapiDevice::AllowMediumRemoval() {
  return PreventAllowMediumRemoval(0);
}

bool AtapiDevice::EjectTray() {
  return StartStopUnit(0, 0, 1, 0);
}

bool AtapiDevice::StopUnit() {
  return StartStopUnit(0, 0, 0, 0);
}

}  // namespace movrel::device
