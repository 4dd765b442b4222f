// The pass-through request as a backend reads and completes it: every field of the exchange, the
// requests the system refuses, the sense data in fixed format, and the status, sense data and
// transfer length in the reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <span>
#include <vector>

#include "platform/PassThrough.h"

namespace movrel::test {

using platform::CompletePassThrough;
using platform::FixedFormatOf;
using platform::FixedSense;
using platform::JudgeCompletedPassThrough;
using platform::PassThroughRequest;
using platform::ReadPassThrough;
namespace ScsiDataDirection = platform::ScsiDataDirection;
using platform::ScsiExchange;
using platform::ScsiPassThroughDirect;
namespace ScsiStatus = platform::ScsiStatus;
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

using Bytes = std::vector<std::uint8_t>;

// Fixed-format sense data as the program reads them.
Bytes Fixed(std::uint8_t code, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  Bytes bytes(18, 0);
  bytes[0] = code;
  bytes[2] = key;
  bytes[7] = 10;
  bytes[12] = asc;
  bytes[13] = ascq;
  return bytes;
}

struct Format {
  const char* name;
  Bytes given;
  Bytes read;  // empty: no usable sense data
};

TEST(FixedFormatOf, KeepsFixedConvertsDescriptorAndRefusesTheRest) {
  const Bytes current = Fixed(0x70, 0x05, 0x24, 0x00);
  Bytes deferredValid = Fixed(0xF1, 0x03, 0x0C, 0x00);
  deferredValid[3] = 0x12;  // the information field, kept as it is
  const Format formats[] = {
      {"fixed, current", current, current},
      {"fixed, deferred, information valid", deferredValid, deferredValid},
      {"fixed, cut short", Bytes{0x70, 0x00, 0x02}, Bytes{0x70, 0x00, 0x02}},
      {"descriptor, current", Bytes{0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0}, Fixed(0x70, 5, 0x20, 0)},
      {"descriptor, deferred", Bytes{0x73, 0x06, 0x29, 0x01, 0, 0, 0, 0}, Fixed(0x71, 6, 0x29, 1)},
      {"descriptor, reserved bits beside the key", Bytes{0x72, 0xF2, 0x3A, 0x01, 0, 0, 0, 0},
       Fixed(0x70, 2, 0x3A, 1)},
      {"descriptor with an information descriptor",
       Bytes{0x72, 0x03, 0x11, 0x00, 0, 0, 0, 12,   0x00, 0x0A,
             0x80, 0,    0,    0,    0, 0, 0, 0x12, 0x34, 0x56},
       Fixed(0x70, 3, 0x11, 0)},
      {"descriptor header cut short", Bytes{0x72, 0x02}, Fixed(0x70, 2, 0, 0)},
      {"vendor specific", Bytes{0x7F, 0x05, 0x20, 0x00, 0, 0, 0, 0}, Bytes{}},
      {"reserved code", Bytes{0x74, 0x05, 0x20, 0x00, 0, 0, 0, 0}, Bytes{}},
      {"no response code", Bytes{0x00, 0x00, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20}, Bytes{}},
      {"nothing", Bytes{}, Bytes{}},
  };
  for (const Format& row : formats) {
    FixedSense converted;
    converted.fill(0xEE);
    const std::span<const std::uint8_t> read = FixedFormatOf(row.given, converted);
    EXPECT_EQ(Bytes(read.begin(), read.end()), row.read) << row.name;
  }
}

// How one outcome completes a request whose sense area is `length` bytes at `offset`.
struct Completion {
  const char* name;
  std::uint8_t status;
  Bytes sense;
  std::uint32_t transferred;
  bool answered = true;
  std::uint32_t offset = kSenseAt;
  std::uint8_t length = 24;
  Bytes area = {};                    // what the sense area holds afterwards (the rest as before)
  std::uint32_t transferLength = 96;  // DataTransferLength afterwards
};

TEST(CompletePassThrough, WritesStatusSenseAndTransferLengthAndNothingElse) {
  Bytes counting(32);  // fixed format, then counting bytes: every byte tells where it went
  for (std::uint8_t i = 1; i < 32; ++i) counting[i] = static_cast<std::uint8_t>(i + 1);
  counting[0] = 0x70;
  const Bytes descriptor{0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0};
  const auto cut = [](const Bytes& bytes, std::size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
  };
  const Completion rows[] = {
      {"good, every byte moved", ScsiStatus::Good, {}, 96},
      {"good, a short reply", ScsiStatus::Good, {}, 40, true, kSenseAt, 24, {}, 40},
      {"good, an empty reply", ScsiStatus::Good, {}, 0, true, kSenseAt, 24, {}, 0},
      {"more moved than asked for", ScsiStatus::Good, {}, 200, true, kSenseAt, 24, {}, 96},
      {"fixed sense into the program's area", ScsiStatus::CheckCondition, cut(counting, 18), 0,
       true, kSenseAt, 24, cut(counting, 18), 0},
      {"cut to the area's length", ScsiStatus::CheckCondition, cut(counting, 18), 0, true, kSenseAt,
       14, cut(counting, 14), 0},
      {"filling the area exactly", ScsiStatus::CheckCondition, counting, 0, true, kSenseAt, 32,
       counting, 0},
      {"at an offset of the request's own", ScsiStatus::CheckCondition, counting, 0, true,
       kSenseAt + 4, 16, cut(counting, 16), 0},
      {"no area asked for", ScsiStatus::CheckCondition, counting, 0, true, kSenseAt, 0, {}, 0},
      {"descriptor sense, converted", ScsiStatus::CheckCondition, descriptor, 0, true, kSenseAt, 24,
       Fixed(0x70, 5, 0x20, 0), 0},
      {"descriptor sense, converted and cut", ScsiStatus::CheckCondition, descriptor, 0, true,
       kSenseAt, 13, cut(Fixed(0x70, 5, 0x20, 0), 13), 0},
      {"check condition, vendor-specific sense", ScsiStatus::CheckCondition,
       Bytes{0x7F, 0x05, 0x20, 0x00}, 0, false},
      {"check condition, no sense", ScsiStatus::CheckCondition, {}, 0, false},
      {"busy", 0x08, {}, 0, false},
      {"good with unusable sense: none copied", ScsiStatus::Good, Bytes{0x00, 0x00, 0x05}, 96},
  };
  for (const Completion& row : rows) {
    std::uint8_t data[96];
    PassThroughRequest request = Request(data);
    request.sptd.SenseInfoOffset = row.offset;
    request.sptd.SenseInfoLength = row.length;
    std::memset(request.senseArea, 0xEE, sizeof request.senseArea);
    ScsiExchange exchange;
    ASSERT_TRUE(ReadPassThrough(&request, kSize, kSize, exchange)) << row.name;
    std::uint8_t expected[kSize];
    std::memcpy(expected, &request, kSize);
    if (row.answered) {
      PassThroughRequest completed = request;
      completed.sptd.ScsiStatus = row.status;
      completed.sptd.DataTransferLength = row.transferLength;
      std::memcpy(expected, &completed, kSize);
      std::copy(row.area.begin(), row.area.end(), expected + row.offset);
    }

    EXPECT_EQ(CompletePassThrough(exchange, {row.status, row.sense, row.transferred}, &request),
              row.answered)
        << row.name;
    const auto* after = reinterpret_cast<const std::uint8_t*>(&request);
    for (std::uint32_t i = 0; i < kSize; ++i)
      ASSERT_EQ(after[i], expected[i]) << row.name << " " << i;
  }
}

// A reply that Windows' port driver completed is judged as a backend's own outcome is: the same
// rows, the sense given in the reply's own area.
TEST(JudgeCompletedPassThrough, KeepsFixedConvertsDescriptorAndFailsWithoutUsableSense) {
  const Bytes descriptor{0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0};
  const Bytes fixed = Fixed(0x70, 3, 0x0C, 0);
  struct Row {
    const char* name;
    std::uint8_t status;
    Bytes sense;
    bool answered;
    Bytes area;  // the area afterwards, zero-filled to its length
    std::uint32_t offset = kSenseAt;
    std::uint8_t length = 24;
  };
  const Row rows[] = {
      {"good without sense", ScsiStatus::Good, {}, true, {}},
      {"fixed sense as it is", ScsiStatus::CheckCondition, fixed, true, fixed},
      {"descriptor sense converted", ScsiStatus::CheckCondition, descriptor, true,
       Fixed(0x70, 5, 0x20, 0)},
      {"vendor-specific sense", ScsiStatus::CheckCondition, Bytes{0x7F, 0x05, 0x20}, false, {}},
      {"check condition without sense", ScsiStatus::CheckCondition, {}, false, {}},
      {"busy", 0x08, {}, false, {}},
      {"an area outside the buffer", ScsiStatus::CheckCondition, fixed, false, {}, kSize - 8, 24},
  };
  for (const Row& row : rows) {
    std::uint8_t data[96];
    PassThroughRequest reply = Request(data);
    reply.sptd.ScsiStatus = row.status;
    reply.sptd.SenseInfoOffset = row.offset;
    reply.sptd.SenseInfoLength = row.length;
    std::memset(reply.senseArea, 0, sizeof reply.senseArea);
    std::copy(row.sense.begin(), row.sense.end(), reply.senseArea);
    const PassThroughRequest before = reply;
    EXPECT_EQ(JudgeCompletedPassThrough(&reply, kSize), row.answered) << row.name;
    Bytes area = row.answered ? row.area : row.sense;
    area.resize(row.answered ? row.length : sizeof reply.senseArea, 0);
    EXPECT_EQ(Bytes(reply.senseArea, reply.senseArea + area.size()), area) << row.name;
    EXPECT_EQ(std::memcmp(&reply.sptd, &before.sptd, sizeof reply.sptd), 0) << row.name;
  }
  PassThroughRequest tooShort = Request(nullptr);
  tooShort.sptd.ScsiStatus = ScsiStatus::Good;
  EXPECT_FALSE(JudgeCompletedPassThrough(&tooShort, kStructure - 1));
}

TEST(CompletePassThrough, AnswersInTheOutputBuffer) {
  std::uint8_t data[96];
  const PassThroughRequest in = Request(data);
  PassThroughRequest out{};
  ScsiExchange exchange;
  ASSERT_TRUE(ReadPassThrough(&in, kSize, kSize, exchange));
  const std::uint8_t sense[18] = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A};
  ASSERT_TRUE(CompletePassThrough(exchange, {ScsiStatus::CheckCondition, sense, 0}, &out));
  EXPECT_EQ(out.sptd.ScsiStatus, ScsiStatus::CheckCondition);
  EXPECT_EQ(std::memcmp(out.senseArea, sense, sizeof sense), 0);
  EXPECT_EQ(in.sptd.ScsiStatus, ScsiStatus::Good);
  EXPECT_EQ(in.senseArea[2], 0);
}

}  // namespace
}  // namespace movrel::test
