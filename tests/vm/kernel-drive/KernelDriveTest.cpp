// The kernel drive's ring and its drives, without a kernel: a region laid out as target_core_user
// lays it out, filled as the kernel fills it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "DriveServer.h"
#include "TcmuAbi.h"
#include "TcmuRing.h"

namespace kerneldrive {
namespace {

using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

// The kernel's side: the mailbox, a small ring (its size, as every entry's, a multiple of 8) and a
// data area. An entry is at least as long as
// the whole entry structure, its command block after its list of buffers (tcmu_cmd_get_cmd_size);
// one that would pass the ring's end is put at its start, after a PAD entry.
class KernelSide {
 public:
  static constexpr std::uint32_t kRingOffset = 128, kRingSize = 304, kDataOffset = 1024;

  explicit KernelSide(bool readLength = true) : region(8192) {
    Put<std::uint16_t>(kTcmu.versionAt, kTcmu.version);
    Put<std::uint16_t>(kTcmu.flagsAt, readLength ? kTcmu.capReadLength : 0);
    Put<std::uint32_t>(kTcmu.ringOffsetAt, kRingOffset);
    Put<std::uint32_t>(kTcmu.ringSizeAt, kRingSize);
  }

  // Puts a command on the ring (op: a command unless told) and moves the head; its entry.
  std::size_t Queue(const Bytes& cdb, const std::vector<Bytes>& buffers, std::uint32_t op = 1) {
    const std::size_t base = std::max(kTcmu.iovAt + buffers.size() * kTcmu.iovSize, 112ul);
    const std::uint32_t length = static_cast<std::uint32_t>(base + (cdb.size() + 7) / 8 * 8);
    if (head + length > kRingSize) {
      Put<std::uint32_t>(kRingOffset + head + kTcmu.lengthOpAt, (kRingSize - head) | kTcmu.opPad);
      head = 0;
    }
    const std::size_t entry = kRingOffset + head;
    Put<std::uint32_t>(entry + kTcmu.lengthOpAt, length | op);
    Put<std::uint32_t>(entry + kTcmu.iovCountAt, static_cast<std::uint32_t>(buffers.size()));
    for (std::size_t i = 0; i < buffers.size(); ++i) {
      std::memcpy(&region[data], buffers[i].data(), buffers[i].size());
      Put<std::uint64_t>(entry + kTcmu.iovAt + i * kTcmu.iovSize + kTcmu.iovBaseAt, data);
      Put<std::uint64_t>(entry + kTcmu.iovAt + i * kTcmu.iovSize + kTcmu.iovLengthAt,
                         buffers[i].size());
      data += buffers[i].size();
    }
    std::memcpy(&region[entry + base], cdb.data(), cdb.size());
    Put<std::uint64_t>(entry + kTcmu.cdbOffsetAt, entry + base);
    head = (head + length) % kRingSize;
    Put<std::uint32_t>(kTcmu.headAt, head);
    return entry;
  }

  template <class T>
  T Get(std::size_t at) const {
    T value;
    std::memcpy(&value, &region[at], sizeof value);
    return value;
  }

  Bytes region;

 private:
  template <class T>
  void Put(std::size_t at, T value) {
    std::memcpy(&region[at], &value, sizeof value);
  }
  std::uint32_t head = 0;
  std::size_t data = kDataOffset;
};

TEST(KernelDriveRing, PassesCommandsPadsAndUnknownEntriesUpToTheHead) {
  KernelSide kernel;
  Ring ring(kernel.region.data(), kernel.region.size());
  std::vector<Bytes> seen;
  const auto handler = [&](const RingCommand& command) {
    seen.emplace_back(command.cdb.begin(), command.cdb.end());
    for (const auto& buffer : command.buffers) seen.emplace_back(buffer.begin(), buffer.end());
    return RingReply{};
  };
  kernel.Queue({0x3B, 5, 1, 0, 0, 0, 0, 0, 2, 0, 0xEE}, {{1}, {2}});
  const std::size_t unknown = kernel.Queue({0x00, 0, 0, 0, 0, 0}, {}, 2);
  EXPECT_EQ(ring.Serve(handler), 2u);
  // The next entry does not fit before the ring's end: a PAD entry comes first.
  const std::size_t wrapped = kernel.Queue({0x12, 0, 0, 0, 0x60, 0, 0xEE}, {{0}});
  EXPECT_EQ(wrapped, KernelSide::kRingOffset);
  EXPECT_EQ(ring.Serve(handler), 2u);
  // Each command block as long as its group's; the buffers in order.
  EXPECT_THAT(seen, ElementsAre(Bytes{0x3B, 5, 1, 0, 0, 0, 0, 0, 2, 0}, Bytes{1}, Bytes{2},
                                Bytes{0x12, 0, 0, 0, 0x60, 0}, Bytes{0}));
  EXPECT_EQ(kernel.region[unknown + kTcmu.userFlagsAt], kTcmu.unknownOp);
  EXPECT_EQ(kernel.Get<std::uint32_t>(kTcmu.tailAt), kernel.Get<std::uint32_t>(kTcmu.headAt));
  EXPECT_EQ(ring.Serve(handler), 0u);
}

TEST(KernelDriveRing, CommandBlocksAreAsLongAsTheirGroupSays) {
  const std::pair<Bytes, std::size_t> blocks[] = {{{0x1B}, 6},
                                                  {{0x4A}, 10},
                                                  {{0xDF}, 10},
                                                  {{0x88}, 16},
                                                  {{0xA3}, 12},
                                                  {{0x7E}, 12},
                                                  {{0x7F, 0, 0, 0, 0, 0, 0, 0x10}, 24}};
  for (const auto& [start, length] : blocks) {
    KernelSide kernel;
    Bytes cdb = start;
    cdb.resize(32, 0xEE);
    kernel.Queue(cdb, {});
    std::size_t seen = 0;
    Ring(kernel.region.data(), kernel.region.size()).Serve([&](const RingCommand& command) {
      seen = command.cdb.size();
      return RingReply{};
    });
    EXPECT_EQ(seen, length) << int{start[0]};
  }
}

// The reply is written over the entry; the bytes read are the kernel's only where it takes them.
TEST(KernelDriveRing, RepliesCarryStatusSenseAndTheBytesReadWhereTheKernelTakesThem) {
  for (const bool taken : {true, false}) {
    KernelSide kernel(taken);
    const std::size_t read = kernel.Queue({0x3C, 1, 1, 0, 0, 0, 0, 0, 8, 0}, {Bytes(8)});
    const std::size_t checked = kernel.Queue({0x00, 0, 0, 0, 0, 0}, {});
    Ring ring(kernel.region.data(), kernel.region.size());
    int call = 0;
    ring.Serve([&](const RingCommand&) {
      return ++call == 1 ? RingReply{0x00, {}, 5} : RingReply{0x02, {0x70, 0, 0x02}, {}};
    });
    EXPECT_EQ(kernel.region[read + kTcmu.statusAt], 0x00);
    EXPECT_EQ(kernel.region[read + kTcmu.userFlagsAt], taken ? kTcmu.readLengthValid : 0);
    EXPECT_EQ(kernel.Get<std::uint32_t>(read + kTcmu.readLengthAt), taken ? 5u : 0u);
    EXPECT_EQ(kernel.region[checked + kTcmu.statusAt], 0x02);
    EXPECT_EQ(kernel.region[checked + kTcmu.userFlagsAt], 0);
    EXPECT_THAT(
        Bytes(&kernel.region[checked + kTcmu.senseAt], &kernel.region[checked + kTcmu.senseAt + 4]),
        ElementsAre(0x70, 0, 0x02, 0));
  }
}

TEST(KernelDriveRing, RefusesABufferOutsideTheRegion) {
  KernelSide kernel;
  kernel.Queue({0x3C, 1, 1, 0, 0, 0, 0, 0, 8, 0}, {Bytes(8)});
  Ring ring(kernel.region.data(), KernelSide::kDataOffset);  // the data area left out
  EXPECT_THROW(ring.Serve([](const RingCommand&) { return RingReply{}; }), std::runtime_error);
}

// The drives answer the kernel's commands as the simulated machine's: the data of a data-out
// command gathered from its buffers, a reply scattered into them, the outcome as a SCSI status.
TEST(KernelDriveServer, RunsTheKernelsCommandsOnTheSimulatedDrives) {
  movrel::sim::BayConfig bay = movrel::sim::ParseBay(R"({"drives": [{"name": "D", "faults": [
      {"command": "1B", "occurrence": 1, "kind": "fail"},
      {"command": "1B", "occurrence": 2, "kind": "sense", "sense": "05 24 00"}]}]})");
  std::FILE* trace = std::tmpfile();
  DriveServer drives(bay, fileno(trace));

  Bytes write = {0x3B, 5, 1, 0, 0, 0, 0, 0, 4, 0}, read = {0x3C, 1, 1, 0, 0, 0, 0, 0, 4, 0};
  Bytes first = {1, 2}, second = {3, 4}, back1(3), back2(1);
  EXPECT_EQ(drives.Execute(0, {write, {first, second}}).status, 0x00);
  const RingReply replied = drives.Execute(0, {read, {back1, back2}});
  EXPECT_EQ(replied.readLength, 4u);
  EXPECT_THAT(back1, ElementsAre(1, 2, 3));
  EXPECT_THAT(back2, ElementsAre(4));

  const Bytes stop = {0x1B, 0, 0, 0, 0, 0};
  EXPECT_EQ(drives.Execute(0, {stop, {}}).status, 0x40);  // no answer: TASK ABORTED
  const RingReply sense = drives.Execute(0, {stop, {}});
  EXPECT_EQ(sense.status, 0x02);
  EXPECT_THAT(Bytes(sense.sense.begin(), sense.sense.begin() + 3), ElementsAre(0x70, 0, 0x05));

  std::rewind(trace);
  char line[128];
  ASSERT_NE(std::fgets(line, sizeof line, trace), nullptr);
  EXPECT_STREQ(line, "D 3B 05 01 00 00 00 00 00 04 00 00 00 out 4 good\n");
  std::fclose(trace);
}

TEST(KernelDriveServer, RefusesAFaultTheKernelCannotCarry) {
  const movrel::sim::BayConfig bay = movrel::sim::ParseBay(
      R"({"drives": [{"faults": [{"command": "3B"}, {"command": "3C", "kind": "timeout"}]}]})");
  EXPECT_THROW(
      {
        try {
          CheckServable(bay);
        } catch (const movrel::sim::BayError& error) {
          EXPECT_THAT(error.what(), ::testing::StartsWith("drives[0].faults[1]: "));
          throw;
        }
      },
      movrel::sim::BayError);
}

}  // namespace
}  // namespace kerneldrive
