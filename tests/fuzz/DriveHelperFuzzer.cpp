// The drive helper's readers over arbitrary bytes, the first four a message's length and the rest
// its body: what they read is within every limit, and written again it is the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "Require.h"
#include "platform/linux/DriveHelperProtocol.h"

using namespace movrel::platform::drivehelper;

namespace {

template <typename Message>
void RequireSameBytes(const Message& message, std::span<const std::uint8_t> body,
                      void (*write)(const Message&, std::vector<std::uint8_t>&)) {
  std::vector<std::uint8_t> again;
  write(message, again);
  fuzz::Require(again.size() == kLengthBytes + body.size() &&
                    std::equal(body.begin(), body.end(), again.begin() + kLengthBytes),
                "a message read and written again is not the same bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kLengthBytes) return 0;
  const std::span<const std::uint8_t> body(data + kLengthBytes, size - kLengthBytes);
  if (const auto length = BodyLength(
          std::span<const std::uint8_t, kLengthBytes>(data, kLengthBytes), kLongestRequest)) {
    fuzz::Require(*length >= 1 && *length <= kLongestRequest, "a request length past the limit");
  }
  if (const auto request = ReadRequest(body)) {
    const bool command = request->commandLength >= 1 && request->commandLength <= kLongestCommand;
    fuzz::Require((request->kind != Kind::SgIo || command) &&
                      request->timeoutMilliseconds <= kLongestTimeout &&
                      request->dataLength <= kLongestData && request->data.size() <= kLongestData,
                  "a request field past its limit");
    RequireSameBytes(*request, body, &WriteRequest);
  }
  if (const auto reply = ReadReply(body)) {
    fuzz::Require(reply->drives.size() <= kMostDrives && reply->handle <= kMostHandles &&
                      reply->sense.size() <= kLongestSense && reply->data.size() <= kLongestData,
                  "a reply field past its limit");
    RequireSameBytes(*reply, body, &WriteReply);
  }
  return 0;
}
