// The pass-through request as a backend reads and completes it: every field of the exchange, the
// requests the system refuses, and the status and sense data in the reply.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>

#include "platform/PassThrough.h"

namespace platform {
namespace {

constexpr std::uint32_t kSize = sizeof(PassThroughRequest);
constexpr std::uint32_t kStructure = sizeof(ScsiPassThroughDirect);
constexpr std::uint32_t kSenseAt = offsetof(PassThroughRequest, senseArea);

// A well-formed request for 96 bytes from the drive into `data`.
PassThroughRequest Request(std::uint8_t* data) {
  PassThroughRequest request{};
  request.sptd.Length = kStructure;
  request.sptd.PathId = 1;
  request.sptd.TargetId = 2;
  request.sptd.Lun = 3;
  request.sptd.CdbLength = 12;
  request.sptd.SenseInfoLength = 24;
  request.sptd.DataIn = ScsiDataDirection::In;
  request.sptd.DataTransferLength = 96;
  request.sptd.TimeOutValue = 77;
  request.sptd.DataBuffer = data;
  request.sptd.SenseInfoOffset = kSenseAt;
  for (std::uint8_t i = 0; i < 16; ++i) request.sptd.Cdb[i] = static_cast<std::uint8_t>(0x10 + i);
  return request;
}

TEST(ReadPassThrough, TakesEveryFieldOfTheRequest) {
  std::uint8_t data[96];
  const PassThroughRequest request = Request(data);
  ScsiExchange exchange;
  ASSERT_TRUE(ReadPassThrough(&request, kSize, kSize, exchange));
  for (int i = 0; i < 12; ++i) EXPECT_EQ(exchange.cdb[i], 0x10 + i) << i;
  for (int i = 12; i < 16; ++i) EXPECT_EQ(exchange.cdb[i], 0) << i;  // past the command block
  EXPECT_EQ(exchange.cdbLength, 12);
  EXPECT_EQ(exchange.direction, ScsiDataDirection::In);
  EXPECT_EQ(exchange.data, data);
  EXPECT_EQ(exchange.dataLength, 96u);
  EXPECT_EQ(exchange.timeoutSeconds, 77u);
  EXPECT_EQ(exchange.pathId, 1);
  EXPECT_EQ(exchange.targetId, 2);
  EXPECT_EQ(exchange.lun, 3);
  EXPECT_EQ(exchange.senseOffset, kSenseAt);
  EXPECT_EQ(exchange.senseLength, 24);
}

// Each row changes a well-formed request in one way; the system takes it or refuses it.
struct Validation {
  const char* name;
  std::function<void(PassThroughRequest&)> change;
  bool accepted;
  std::uint32_t inSize = kSize;
  std::uint32_t outSize = kSize;
};

const Validation kValidations[] = {
    {"well formed", [](PassThroughRequest&) {}, true},
    {"length zero", [](PassThroughRequest& r) { r.sptd.Length = 0; }, false},
    {"length one short", [](PassThroughRequest& r) { r.sptd.Length = kStructure - 1; }, false},
    {"command block of 1 byte", [](PassThroughRequest& r) { r.sptd.CdbLength = 1; }, true},
    {"command block of 16 bytes", [](PassThroughRequest& r) { r.sptd.CdbLength = 16; }, true},
    {"no command block", [](PassThroughRequest& r) { r.sptd.CdbLength = 0; }, false},
    {"command block of 17 bytes", [](PassThroughRequest& r) { r.sptd.CdbLength = 17; }, false},
    {"data out", [](PassThroughRequest& r) { r.sptd.DataIn = ScsiDataDirection::Out; }, true},
    {"unknown direction", [](PassThroughRequest& r) { r.sptd.DataIn = 3; }, false},
    {"no data and no buffer",
     [](PassThroughRequest& r) {
       r.sptd.DataIn = ScsiDataDirection::Unspecified;
       r.sptd.DataTransferLength = 0;
       r.sptd.DataBuffer = nullptr;
     },
     true},
    {"a length without a buffer", [](PassThroughRequest& r) { r.sptd.DataBuffer = nullptr; },
     false},
    {"a buffer without a length", [](PassThroughRequest& r) { r.sptd.DataTransferLength = 0; },
     true},
    {"sense right after the structure",
     [](PassThroughRequest& r) { r.sptd.SenseInfoOffset = kStructure; }, true},
    {"sense over the structure",
     [](PassThroughRequest& r) { r.sptd.SenseInfoOffset = kStructure - 1; }, false},
    {"sense area ending at the end of the buffer",
     [](PassThroughRequest& r) { r.sptd.SenseInfoLength = kSize - kSenseAt; }, true},
    {"sense area one byte past the buffer",
     [](PassThroughRequest& r) { r.sptd.SenseInfoLength = kSize - kSenseAt + 1; }, false},
    {"sense offset past the buffer",
     [](PassThroughRequest& r) { r.sptd.SenseInfoOffset = kSize + 1; }, false},
    {"sense offset that wraps with its length",
     [](PassThroughRequest& r) { r.sptd.SenseInfoOffset = 0xFFFFFFF0u; }, false},
    {"no sense asked for, any offset",
     [](PassThroughRequest& r) {
       r.sptd.SenseInfoLength = 0;
       r.sptd.SenseInfoOffset = 0;
     },
     true},
    {"input shorter than the structure", [](PassThroughRequest&) {}, false, kStructure - 1},
    {"output shorter than the structure", [](PassThroughRequest& r) { r.sptd.SenseInfoLength = 0; },
     false, kSize, kStructure - 1},
    {"output without room for the sense area", [](PassThroughRequest&) {}, false, kSize,
     kSenseAt + 23},
};

TEST(ReadPassThrough, RefusesMalformedRequestsAndPassesTheDataPhaseOn) {
  for (const Validation& row : kValidations) {
    std::uint8_t data[96];
    PassThroughRequest request = Request(data);
    row.change(request);
    ScsiExchange exchange;
    ASSERT_EQ(ReadPassThrough(&request, row.inSize, row.outSize, exchange), row.accepted)
        << row.name;
    if (!row.accepted) continue;
    // The data phase goes on as the request gives it, whatever the direction.
    EXPECT_EQ(exchange.direction, request.sptd.DataIn) << row.name;
    EXPECT_EQ(exchange.data, request.sptd.DataBuffer) << row.name;
    EXPECT_EQ(exchange.dataLength, request.sptd.DataTransferLength) << row.name;
  }
  ScsiExchange exchange;
  EXPECT_FALSE(ReadPassThrough(nullptr, kSize, kSize, exchange));
}

// Sense data of `given` bytes for a sense area of `length` bytes at `offset` of the request.
struct SenseCase {
  const char* name;
  std::uint8_t status;
  std::uint32_t offset;
  std::uint8_t length;
  std::size_t given;
  std::size_t copied;
};

const SenseCase kSenseCases[] = {
    {"fixed-format sense into the program's area", ScsiStatus::CheckCondition, kSenseAt, 24, 18,
     18},
    {"cut to the area's length", ScsiStatus::CheckCondition, kSenseAt, 14, 18, 14},
    {"filling the area exactly", ScsiStatus::CheckCondition, kSenseAt, 32, 32, 32},
    {"at an offset of the request's own", ScsiStatus::CheckCondition, kSenseAt + 4, 16, 18, 16},
    {"no area asked for", ScsiStatus::CheckCondition, kSenseAt, 0, 18, 0},
    {"good status, no sense", ScsiStatus::Good, kSenseAt, 24, 0, 0},
};

TEST(CompletePassThrough, WritesTheStatusAndTheSenseIntoItsAreaAndNothingElse) {
  for (const SenseCase& c : kSenseCases) {
    std::uint8_t data[96];
    PassThroughRequest request = Request(data);
    request.sptd.SenseInfoOffset = c.offset;
    request.sptd.SenseInfoLength = c.length;
    std::memset(request.senseArea, 0xEE, sizeof request.senseArea);
    ScsiExchange exchange;
    ASSERT_TRUE(ReadPassThrough(&request, kSize, kSize, exchange)) << c.name;
    std::uint8_t sense[32];
    for (std::uint8_t i = 0; i < 32; ++i) sense[i] = static_cast<std::uint8_t>(i + 1);
    std::uint8_t expected[kSize];
    std::memcpy(expected, &request, kSize);
    expected[offsetof(ScsiPassThroughDirect, ScsiStatus)] = c.status;
    std::memcpy(expected + c.offset, sense, c.copied);

    EXPECT_EQ(CompletePassThrough(exchange, c.status, {sense, c.given}, &request), kStructure);
    const auto* after = reinterpret_cast<const std::uint8_t*>(&request);
    for (std::uint32_t i = 0; i < kSize; ++i)
      ASSERT_EQ(after[i], expected[i]) << c.name << " " << i;
  }
}

TEST(CompletePassThrough, AnswersInTheOutputBuffer) {
  std::uint8_t data[96];
  const PassThroughRequest in = Request(data);
  PassThroughRequest out{};
  ScsiExchange exchange;
  ASSERT_TRUE(ReadPassThrough(&in, kSize, kSize, exchange));
  const std::uint8_t sense[18] = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A};
  CompletePassThrough(exchange, ScsiStatus::CheckCondition, sense, &out);
  EXPECT_EQ(out.sptd.ScsiStatus, ScsiStatus::CheckCondition);
  EXPECT_EQ(std::memcmp(out.senseArea, sense, sizeof sense), 0);
  EXPECT_EQ(in.sptd.ScsiStatus, ScsiStatus::Good);
  EXPECT_EQ(in.senseArea[2], 0);
}

}  // namespace
}  // namespace platform
