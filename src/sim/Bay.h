// The description of a simulated machine: its operating-system family, its ASPI manager, its
// clock and its optical drives with their identities, state and scripted faults. It is read from
// a JSON file (the bay) or built in code by tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/Clock.h"
#include "sim/DriveCommand.h"

namespace movrel::sim {

enum class Family { NT, Consumer };

// A fault scripted on one command of one drive.
enum class FaultKind {
  Fail,             // the command fails without sense data
  Sense,            // the drive answers with the given sense data
  DescriptorSense,  // the same in descriptor format, as a USB bridge or ATA translation sends it
  Corrupt,          // one byte of the data phase is corrupted (see Fault::byte)
  Short,            // good status, but no more than Fault::length bytes of data move
  Timeout,          // the command takes longer than the command time-out
  Vanish,           // the drive is gone: this and every later command fails
};

struct Fault {
  std::uint8_t command = 0;             // operation code
  std::optional<std::uint8_t> control;  // byte 9 of the command; absent: any
  int occurrence = 0;                   // the n-th matching command (from 1); 0: every one
  FaultKind kind = FaultKind::Fail;
  std::array<std::uint8_t, 3> sense{};  // key, ASC, ASCQ (kinds Sense and DescriptorSense)
  // Kind Corrupt: the offset in the data phase of the byte to flip. Data the host sends is kept
  // corrupted by the drive; data the drive returns reaches the host corrupted. Absent: a byte the
  // host reads (the vendor of INQUIRY, the first flash identity byte, the media status of GET
  // EVENT STATUS NOTIFICATION), otherwise the middle one. A data phase too short has no such byte.
  std::optional<std::uint32_t> byte = std::nullopt;
  // Kind Short: the data bytes that move at most, the first ones of the data phase (0: none);
  // and whether the host is told how many moved. An ATAPI drive behind libata reports no residue:
  // the host reads the whole length as moved.
  std::uint32_t length = 0;
  bool residue = true;
};

// How the drive's device answers the SCSI address query.
enum class AddressQuery { Ok, Refused, Empty, Unopenable };

struct DriveConfig {
  std::string name = "D";                    // the name the trace uses
  std::optional<std::string> root = "D:\\";  // absent: only the ASPI manager sees the drive
  std::array<int, 4> address{0, 0, 0, 0};    // port, path, target, lun
  AddressQuery addressQuery = AddressQuery::Ok;
  bool aspi = true;                 // the ASPI manager sees the drive
  std::string vendor = "Dornavex";  // INQUIRY texts, space-padded to 8, 16 and 4
  std::string product = "DVDRW KTR-207M";
  std::string revision = "RV05";
  std::array<std::uint8_t, 4> flashId{0xBF, 0xD8, 0x00, 0x05};
  bool medium = false;  // a disc is in the drive
  bool trayOpen = false;
  bool trayMotor = true;       // the tray loads itself
  bool ejectLocked = false;    // another program locked the door (PREVENT MEDIUM REMOVAL)
  bool eventStatus = true;     // answers GET EVENT STATUS NOTIFICATION
  double notReadySeconds = 0;  // becoming ready after power-on or load; beyond the clock: never
  int unitAttention = 0;       // UNIT ATTENTIONs pending
  std::vector<Fault> faults;
  Responder responder;  // a test's stand-in for the drive; a bay file names none
};

// A root that is not an optical drive, e.g. "C:\" as a fixed disk.
struct RootConfig {
  std::string root;
  std::uint32_t driveType = 3;  // DriveType::Fixed
};

struct BayConfig {
  Family family = Family::NT;
  bool aspi = false;               // an ASPI manager is installed
  std::uint8_t aspiStatus = 0x01;  // what GetASPI32SupportInfo reports (SS_COMP)
  int hostAdapters = 1;
  Clock::Mode clock = Clock::Mode::Virtual;
  std::vector<RootConfig> otherRoots{{"C:\\", 3}};
  std::vector<DriveConfig> drives;
};

// A description that cannot be used; the message names the field.
class BayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

BayConfig ParseBay(const std::string& jsonText);
BayConfig LoadBay(const std::string& path);

}  // namespace movrel::sim
