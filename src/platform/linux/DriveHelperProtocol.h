// What the flasher and movrel-drive-helper, its root helper, say to each other over a stream
// socket: the flasher's requests and the helper's replies, one reply to each request. A reply
// carries its request's tag: the helper runs the commands of different drives at once, so their
// replies may come in another order than the requests.
//
// Every message is a length and a body. Integers are little-endian.
//
//   message      u32 body length, then the body
//   request      u32 tag (the flasher's choice), u8 kind, then by kind:
//     List  (1)  nothing
//     Open  (2)  u8 drive: N of /dev/srN, as the list names it; u8 exclusive (0 or 1)
//     SgIo  (3)  u8 handle (an open drive's), u8 direction (0 none, 1 to the device, 2 from the
//                device),
//                u8 command length (1..16), u8[16] command (bytes past its length 0),
//                u32 time-out in milliseconds (1..kLongestTimeout),
//                u32 data length (0 with no direction, 1..kLongestData with one),
//                the data when it goes to the device (data length bytes), nothing else
//     Close (4)  u8 handle (an open drive's or a lock's)
//     Lock  (5)  u8 drive
//   reply        u32 tag and u8 kind (the request's), u32 error (0, or the kernel's error number),
//   then, when
//                the error is 0, by kind:
//     List       u8 count (up to kMostDrives), then each drive:
//                u8 drive, u8 host, u8 channel, u8 id, u8 lun
//     Open       u8 handle (1..kMostHandles)
//     SgIo       u8 SCSI status, u16 host status, u16 driver status, i32 residue,
//                u8 sense length (up to kLongestSense), the sense bytes,
//                u32 data length, the data that came from the device (all of the request's
//                buffer, whatever the residue; none for the other directions)
//     Close      nothing
//     Lock       u8 handle (1..kMostHandles)
//
// A body is exactly as long as its fields: a reader refuses one that ends early or goes on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace movrel::platform::drivehelper {

enum class Kind : std::uint8_t { List = 1, Open = 2, SgIo = 3, Close = 4, Lock = 5 };
enum class Direction : std::uint8_t { None = 0, ToDevice = 1, FromDevice = 2 };

inline constexpr std::size_t kLengthBytes = 4;
inline constexpr std::size_t kLongestCommand = 16;
inline constexpr std::uint32_t kLongestData = 64 * 1024;
inline constexpr std::uint32_t kLongestTimeout = 108'000'000;  // 30 hours
inline constexpr std::size_t kLongestSense = 32;
inline constexpr std::size_t kMostDrives = 32;
// Handles open at once, open drives and locks together: two openings of a drive (the window's and
// the update's) and a lock, for every drive of a machine that has a few.
inline constexpr std::size_t kMostHandles = 16;
// The longest bodies: an SG_IO request with its data, an SG_IO reply with its sense and data.
inline constexpr std::uint32_t kLongestRequest =
    4 + 1 + 1 + 1 + 1 + kLongestCommand + 4 + 4 + kLongestData;
inline constexpr std::uint32_t kLongestReply =
    4 + 1 + 4 + 1 + 2 + 2 + 4 + 1 + kLongestSense + 4 + kLongestData;

struct Request {
  std::uint32_t tag = 0;
  Kind kind = Kind::List;
  std::uint8_t drive = 0;   // Open, Lock
  bool exclusive = false;   // Open
  std::uint8_t handle = 0;  // SgIo, Close
  Direction direction = Direction::None;
  std::uint8_t commandLength = 0;
  std::array<std::uint8_t, kLongestCommand> command{};
  std::uint32_t timeoutMilliseconds = 0;
  std::uint32_t dataLength = 0;
  std::vector<std::uint8_t> data;  // to the device
};

struct DriveEntry {
  std::uint8_t drive = 0;
  std::uint8_t host = 0;
  std::uint8_t channel = 0;
  std::uint8_t id = 0;
  std::uint8_t lun = 0;
  bool operator==(const DriveEntry&) const = default;
};

struct Reply {
  std::uint32_t tag = 0;
  Kind kind = Kind::List;
  std::uint32_t error = 0;
  std::uint8_t handle = 0;  // Open, Lock
  std::vector<DriveEntry> drives;
  std::uint8_t status = 0;
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  std::int32_t residue = 0;
  std::vector<std::uint8_t> sense;
  std::vector<std::uint8_t> data;  // from the device
};

// The body length a message's first kLengthBytes announce, when it is 1..`longest`.
std::optional<std::uint32_t> BodyLength(std::span<const std::uint8_t, kLengthBytes> prefix,
                                        std::uint32_t longest);

// A request's or a reply's body, read within the limits above; nothing when it breaks one. The
// readers look at no byte past the span and allocate no more than its length.
std::optional<Request> ReadRequest(std::span<const std::uint8_t> body);
std::optional<Reply> ReadReply(std::span<const std::uint8_t> body);

// A whole message (length and body), appended to `out`. The fields are taken as they are: a
// request or reply outside the limits is written as such, for its reader to refuse.
void WriteRequest(const Request& request, std::vector<std::uint8_t>& out);
void WriteReply(const Reply& reply, std::vector<std::uint8_t>& out);

}  // namespace movrel::platform::drivehelper
