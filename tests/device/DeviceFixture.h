// A device on the fake machine with its one drive selected, through the pass-through (NT) or the
// ASPI manager, and the records of discovery cleared.
#pragma once

#include <memory>
#include <string>

#include "FakeMachine.h"

namespace devtest {

enum class Path { PassThrough, Aspi };

struct SelectedDevice {
  explicit SelectedDevice(Path path) : machine(sim::Family::NT, path == Path::Aspi) {
    application.SetTag(path == Path::Aspi ? 32767 : 0);
    device = std::make_unique<movrel::AtapiDevice>(machine, application);
    device->SelectDrive(0);
    machine.ClearRecords();
  }

  // Attempts of the last commands on the device's path.
  std::size_t Attempts() const {
    return machine.passThroughRequests.size() + machine.aspiRequests.size();
  }
  double Seconds() { return static_cast<double>(machine.GetClock().NowNanoseconds()) / 1e9; }

  FakeMachine machine;
  QuietApplication application;
  std::unique_ptr<movrel::AtapiDevice> device;
};

inline Answer Sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0) {
  Answer answer;
  answer.senseKey = key;
  answer.asc = asc;
  answer.ascq = ascq;
  return answer;
}

// A standard INQUIRY reply with the given texts at bytes 8, 16 and 32 (not padded).
inline Answer InquiryReply(const std::string& vendor, const std::string& product,
                           const std::string& revision) {
  Answer answer;
  answer.reply.assign(96, 0);
  answer.reply[0] = 0x05;
  vendor.copy(reinterpret_cast<char*>(&answer.reply[8]), 8);
  product.copy(reinterpret_cast<char*>(&answer.reply[16]), 16);
  revision.copy(reinterpret_cast<char*>(&answer.reply[32]), 4);
  return answer;
}

inline Answer Failed() {
  Answer answer;
  answer.completes = false;
  return answer;
}

inline Answer Taking(std::uint32_t milliseconds) {
  Answer answer;
  answer.milliseconds = milliseconds;
  return answer;
}

}  // namespace devtest
