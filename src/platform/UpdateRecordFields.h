// One drive's update as the system's log keeps it, with what a request for support asks for: the
// device, the drive's texts before and its revision after, the bank, the image's SHA-256, the
// result and the sense of the failing command.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace movrel::platform {

// The name under which the system's logs and lists show the program's records and holds.
inline constexpr char kRecordSource[] = "Movrel";

struct UpdateRecordFields {
  char driveLetter = '\0';  // the letter of the drive's root ('D' for "D:\"); '\0' when unknown
  std::string vendor;       // the drive's texts before the update, as it reported them
  std::string product;
  std::string revisionBefore;
  std::string revisionAfter;  // as the drive reports it after the run; empty when it is gone
  int bank = 0;               // the package bank's number, from 0
  std::string imageSha256;    // 64 lower-case hex digits
  bool succeeded = false;
  bool senseKnown = false;  // whether the failing command was answered with sense data
  std::uint8_t senseKey = 0;
  std::uint8_t asc = 0;
};

// A field of a record as text, under the name the system journal gives it.
struct UpdateRecordText {
  const char* journalField;
  std::string text;
};
inline constexpr std::size_t kUpdateRecordTexts = 9;

// "success" or "failure".
const char* UpdateResultText(bool succeeded);

// The record's fields as texts, in the order of the event log's insertion strings, with `device`
// the drive's device as the system names it ("\\.\D:", "/dev/sr0"; empty for no drive). The
// result is "success" or "failure"; the sense the failing command's "KEY/ASC" in hex, or empty.
std::array<UpdateRecordText, kUpdateRecordTexts> UpdateRecordTexts(const UpdateRecordFields& fields,
                                                                   std::string device);

}  // namespace movrel::platform
