#include "sim/DriveBay.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace movrel::sim {

namespace {

const char* DirectionText(Transfer direction) {
  switch (direction) {
    case Transfer::In:
      return "in";
    case Transfer::Out:
      return "out";
    case Transfer::None:
      break;
  }
  return "none";
}

// "good", "short <bytes moved>", "fail", "timeout", or "sense K/AA/QQ" (with " descriptor" for
// descriptor-format sense).
std::string OutcomeText(const DataPhase& data, const Answer& answer) {
  if (answer.late) return "timeout";
  switch (answer.status) {
    case Answer::Status::Good:
      if (data.direction == Transfer::None || answer.transferred == data.length) return "good";
      return "short " + std::to_string(answer.transferred);
    case Answer::Status::Failed:
      return "fail";
    case Answer::Status::CheckCondition:
      break;
  }
  char text[24];
  std::snprintf(text, sizeof text, "sense %02X/%02X/%02X", answer.sense[0], answer.sense[1],
                answer.sense[2]);
  return std::string(text) + (answer.descriptorSense ? " descriptor" : "");
}

// "<drive> <12 command bytes> <in|out|none> <transfer length> <outcome>"
std::string TraceLine(const std::string& name, const CommandBytes& command, const DataPhase& data,
                      const Answer& answer) {
  std::string line = name;
  for (std::uint8_t byte : command) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", byte);
    line += hex;
  }
  line += ' ';
  line += DirectionText(data.direction);
  line += ' ' + std::to_string(data.length) + ' ' + OutcomeText(data, answer);
  return line;
}

}  // namespace

DriveBay::DriveBay(const std::vector<DriveConfig>& configs, std::int64_t now) {
  drives.reserve(configs.size());
  for (const DriveConfig& config : configs) drives.emplace_back(config, now);
}

std::optional<std::size_t> DriveBay::FindByLetter(char letter) const {
  const int wanted = std::toupper(static_cast<unsigned char>(letter));
  for (std::size_t drive = 0; drive < drives.size(); ++drive) {
    const std::optional<std::string>& root = drives[drive].Config().root;
    if (root && !root->empty() && std::toupper(static_cast<unsigned char>((*root)[0])) == wanted) {
      return drive;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> DriveBay::FindOnAdapter(int adapter, int target, int lun) const {
  for (std::size_t drive = 0; drive < drives.size(); ++drive) {
    const DriveConfig& config = drives[drive].Config();
    if (config.aspi && config.address[0] == adapter && config.address[2] == target &&
        config.address[3] == lun) {
      return drive;
    }
  }
  return std::nullopt;
}

bool DriveBay::Vanished(std::size_t drive) const {
  platform::Hold hold(lock);
  return drives[drive].Vanished();
}

Answer DriveBay::Execute(std::size_t drive, const CommandBytes& command, const DataPhase& data,
                         std::int64_t now) {
  platform::Hold hold(lock);
  SimDrive& target = drives[drive];
  if (const Responder& responder = target.Config().responder) {
    Answer answer;
    if (responder(command, data, answer)) return answer;
  }
  Answer answer = target.Execute(command, data, now);
  trace.push_back(TraceLine(target.Config().name, command, data, answer));
  if (!answer.note.empty()) trace.push_back(target.Config().name + ' ' + answer.note);
  return answer;
}

void DriveBay::Note(std::string line) {
  platform::Hold hold(lock);
  trace.push_back(std::move(line));
}

std::vector<std::string> DriveBay::Trace() const {
  platform::Hold hold(lock);
  return trace;
}

void DriveBay::ClearTrace() {
  platform::Hold hold(lock);
  trace.clear();
}

std::vector<std::string> DriveBay::TakeTrace() {
  platform::Hold hold(lock);
  return std::exchange(trace, {});
}

void DriveBay::WithDrive(const std::string& name, const std::function<void(SimDrive&)>& action) {
  platform::Hold hold(lock);
  for (SimDrive& drive : drives) {
    if (drive.Config().name == name) {
      action(drive);
      return;
    }
  }
  throw std::invalid_argument("no simulated drive named " + name);
}

}  // namespace movrel::sim
