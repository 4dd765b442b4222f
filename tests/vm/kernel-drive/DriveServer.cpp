#include "DriveServer.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "package/ImageHash.h"
#include "sim/SimDrive.h"

namespace kerneldrive {

namespace {

constexpr std::uint8_t kGood = 0x00;
constexpr std::uint8_t kCheckCondition = 0x02;
// What a command the drive answered without a status gets. TCMU can only answer with a SCSI
// status, not with a failure of the transport; TASK ABORTED is the one the target core itself
// gives a command that it ends without the device's answer (transport_send_task_abort), and the
// kernel's SCSI layer passes it to SG_IO without sense data and without a retry.
constexpr std::uint8_t kTaskAborted = 0x40;
// WRITE BUFFER, and the controls (byte 9) by which it has the drive program its flash memory.
constexpr std::uint8_t kWriteBuffer = 0x3B;
constexpr std::uint8_t kProgramFlash = 0x80;
constexpr std::uint8_t kProgramBootCode = 0xA0;

// The operation codes of SPC and MMC whose data go to the device: FORMAT UNIT, WRITE (6), MODE
// SELECT (6), SEND DIAGNOSTIC, WRITE (10), WRITE AND VERIFY (10), WRITE BUFFER, LOG SELECT, SEND
// OPC INFORMATION, MODE SELECT (10), SEND CUE SHEET, SEND KEY, WRITE (12), SET STREAMING, SEND DVD
// STRUCTURE. Every other command with data reads.
bool SendsData(std::uint8_t operationCode) {
  static constexpr std::uint8_t kDataOut[] = {0x04, 0x0A, 0x15, 0x1D, 0x2A, 0x2E, 0x3B, 0x4C,
                                              0x54, 0x55, 0x5D, 0xA3, 0xAA, 0xB6, 0xBF};
  return std::find(std::begin(kDataOut), std::end(kDataOut), operationCode) != std::end(kDataOut);
}

}  // namespace

void CheckServable(const movrel::sim::BayConfig& bay) {
  for (std::size_t drive = 0; drive < bay.drives.size(); ++drive) {
    const auto& faults = bay.drives[drive].faults;
    for (std::size_t fault = 0; fault < faults.size(); ++fault) {
      if (faults[fault].kind == movrel::sim::FaultKind::Timeout) {
        throw movrel::sim::BayError(
            "drives[" + std::to_string(drive) + "].faults[" + std::to_string(fault) +
            "]: a fault of kind \"timeout\" cannot be served through the kernel, "
            "which does not pass on the host's time-out");
      }
    }
  }
}

DriveServer::DriveServer(const movrel::sim::BayConfig& bay, int trace,
                         std::chrono::milliseconds programTime)
    : drives(bay.drives, clock.NowNanoseconds()), trace(trace), programTime(programTime) {}

RingReply DriveServer::Execute(std::size_t drive, const RingCommand& command) {
  movrel::sim::CommandBytes bytes{};
  std::copy_n(command.cdb.begin(), std::min(command.cdb.size(), bytes.size()), bytes.begin());
  std::size_t length = 0;
  for (const auto& buffer : command.buffers) length += buffer.size();
  data.assign(length, 0);
  movrel::sim::DataPhase phase;
  phase.direction = length == 0           ? movrel::sim::Transfer::None
                    : SendsData(bytes[0]) ? movrel::sim::Transfer::Out
                                          : movrel::sim::Transfer::In;
  phase.bytes = data.data();
  phase.length = static_cast<std::uint32_t>(length);
  if (phase.direction == movrel::sim::Transfer::Out) {
    std::size_t at = 0;
    for (const auto& buffer : command.buffers) {
      std::memcpy(data.data() + at, buffer.data(), buffer.size());
      at += buffer.size();
    }
  }

  const movrel::sim::Answer answer = drives.Execute(drive, bytes, phase, clock.NowNanoseconds());
  WriteTrace();
  if (bytes[0] == kWriteBuffer && (bytes[9] == kProgramFlash || bytes[9] == kProgramBootCode)) {
    std::this_thread::sleep_for(programTime);
  }

  RingReply reply;
  switch (answer.status) {
    case movrel::sim::Answer::Status::Good:
      reply.status = kGood;
      break;
    case movrel::sim::Answer::Status::CheckCondition:
      reply.status = kCheckCondition;
      reply.sense = movrel::sim::SenseBytes(answer);
      return reply;
    case movrel::sim::Answer::Status::Failed:
      reply.status = kTaskAborted;
      return reply;
  }
  if (phase.direction == movrel::sim::Transfer::In) {
    std::size_t at = 0;
    for (const auto& buffer : command.buffers) {
      const std::size_t moved = std::min<std::size_t>(buffer.size(), answer.transferred - at);
      std::memcpy(buffer.data(), data.data() + at, moved);
      at += moved;
    }
    reply.readLength = answer.transferred;
  }
  return reply;
}

void DriveServer::TakeDiscOut(const std::string& name) {
  drives.WithDrive(name, [](movrel::sim::SimDrive& drive) { drive.TakeDiscOut(); });
}

void DriveServer::NoteFlashes() {
  for (std::size_t drive = 0; drive < drives.Count(); ++drive) {
    std::string digest;
    drives.WithDrive(Name(drive), [&digest](movrel::sim::SimDrive& each) {
      const std::vector<std::uint8_t> flash = each.State().flash;
      digest = movrel::package::Sha256Hex(flash.data(), flash.size());
    });
    drives.Note("- flash " + Name(drive) + " sha256 " + digest);
  }
  WriteTrace();
}

void DriveServer::WriteTrace() {
  const std::lock_guard<std::mutex> hold(writing);
  std::string lines;
  for (const std::string& line : drives.TakeTrace()) lines += line + '\n';
  for (std::size_t written = 0; written < lines.size();) {
    const ssize_t count = ::write(trace, lines.data() + written, lines.size() - written);
    if (count <= 0) throw std::runtime_error("the trace cannot be written");
    written += static_cast<std::size_t>(count);
  }
}

}  // namespace kerneldrive
