// A simulated machine whose one drive, D:\ at port 1, path 0, target 2, LUN 3 (host adapter 1
// for the ASPI manager), answers as the test says, and a device with that drive selected.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "QuietApplication.h"
#include "device/AtapiDevice.h"
#include "sim/SimDriveAnswers.h"
#include "sim/SimSystem.h"

namespace movrel::test {

// How the drive answers one command.
struct Answer {
  bool completes = true;  // false: the command fails without sense data
  std::uint8_t senseKey = 0, asc = 0, ascq = 0;
  std::uint32_t milliseconds = 0;  // how long the command takes
  bool late = false;  // answered after the host's time-out: an ASPI request stays pending
  bool descriptorSense = false;  // the sense data in descriptor format
  std::vector<std::uint8_t> reply;
  // The data bytes that move: the whole data phase when absent (the reply's bytes, or the
  // buffer's left as they are).
  std::optional<std::uint32_t> transferred;
};

// One command as the drive received it.
struct Sent {
  sim::CommandBytes command;
  sim::Transfer direction;
  std::uint32_t length;
  const std::uint8_t* data;
  std::uint32_t timeoutSeconds;
};

class ScriptedMachine : public sim::SimSystem {
 public:
  explicit ScriptedMachine(sim::Family family = sim::Family::NT, bool aspi = false)
      : sim::SimSystem(Bay(family, aspi,
                           [this](const sim::CommandBytes& command, const sim::DataPhase& data,
                                  sim::Answer& answer) {
                             answer = Next(command, data);
                             return true;
                           })) {}

  // The answers to the next commands, in order; when none is left, the responder's answer, or a
  // good one.
  std::deque<Answer> answers;
  std::function<Answer(const sim::CommandBytes& command)> responder;
  std::vector<Sent> sent;

  int Count(std::uint8_t operationCode) const {
    int count = 0;
    for (const Sent& command : sent) count += command.command[0] == operationCode;
    return count;
  }

 private:
  static sim::BayConfig Bay(sim::Family family, bool aspi, sim::Responder drive) {
    sim::BayConfig bay;
    bay.family = family;
    bay.aspi = aspi;
    bay.hostAdapters = 2;
    bay.drives.emplace_back();
    bay.drives[0].address = {1, 0, 2, 3};
    bay.drives[0].responder = std::move(drive);
    return bay;
  }

  sim::Answer Next(const sim::CommandBytes& command, const sim::DataPhase& data) {
    sent.push_back({command, data.direction, data.length, data.bytes, data.timeoutSeconds});
    Answer answer;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    } else if (responder) {
      answer = responder(command);
    }
    Sleep(answer.milliseconds);
    sim::Answer result;
    if (!answer.completes) {
      result.status = sim::Answer::Status::Failed;
    } else if (answer.senseKey != 0) {
      result = sim::answers::Check(answer.senseKey, answer.asc, answer.ascq);
      result.descriptorSense = answer.descriptorSense;
    } else {
      const auto length = static_cast<std::uint32_t>(answer.reply.size());
      if (length != 0) result = sim::answers::Reply(answer.reply.data(), length, data);
      result.transferred = answer.transferred.value_or(data.length);
    }
    result.late = answer.late;
    return result;
  }
};

enum class Path { PassThrough, Aspi };

// A device on the scripted machine with its drive selected, through the pass-through (NT) or the
// ASPI manager, and the commands of discovery forgotten.
struct SelectedDevice {
  explicit SelectedDevice(Path path) : machine(sim::Family::NT, path == Path::Aspi) {
    application.SetTag(path == Path::Aspi ? 32767 : 0);
    device = std::make_unique<device::AtapiDevice>(machine, application);
    device->SelectDrive(0);
    machine.sent.clear();
  }

  // Attempts of the last commands that reached the drive.
  std::size_t Attempts() const { return machine.sent.size(); }
  double Seconds() { return static_cast<double>(machine.GetClock().NowNanoseconds()) / 1e9; }

  ScriptedMachine machine;
  QuietApplication application;
  std::unique_ptr<device::AtapiDevice> device;
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

}  // namespace movrel::test
