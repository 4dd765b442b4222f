// The object core: its state after construction, the transport choice of Initialize, and a
// construction whose buffers cannot be allocated.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "DeviceFixture.h"

namespace {
// The next nothrow array allocations of a device buffer's size that are to fail.
int failingBufferAllocations = 0;
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (size == movrel::device::AtapiDevice::kBufferAllocation && failingBufferAllocations > 0) {
    --failingBufferAllocations;
    return nullptr;
  }
  try {
    return ::operator new[](size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace movrel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(Construction, LeavesTheDocumentedInitialState) {
  sim::SimSystem machine;
  QuietApplication application;
  device::AtapiDevice device(machine, application, false);
  EXPECT_TRUE(device.BuffersAllocated());
  for (const std::uint8_t* buffer : {device.InBuffer(), device.OutBuffer()}) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 4096, 0u);
  }
  EXPECT_EQ(device.CurrentIndex(), 127);
  EXPECT_EQ(device.PortNumber(), -1);
  EXPECT_EQ(device.TargetId(), -1);
  EXPECT_EQ(device.Lun(), -1);
  EXPECT_EQ(device.PathId(), -1);
  EXPECT_EQ(device.DeviceHandle(), platform::InvalidHandleValue);
  EXPECT_EQ(device.CommandTimeout(), 30u);
  EXPECT_FALSE(device.ThrowOnFailure());
  EXPECT_EQ(device.FlashStatus(), 0);
  EXPECT_EQ(device.LastResult(), 0);
  EXPECT_EQ(device.DriveCount(), 0);
  EXPECT_STREQ(device.Vendor(), "");
  EXPECT_EQ(device.EntryAt(0), nullptr);
  device.SetCommandTimeout(5);
  device.SetThrowOnFailure();
  EXPECT_EQ(device.CommandTimeout(), 5u);
  EXPECT_TRUE(device.ThrowOnFailure());
  device.ClearThrowOnFailure();
  EXPECT_FALSE(device.ThrowOnFailure());
}

TEST(Construction, WithoutBuffersFailsAndDiscoversNothing) {
  for (int failing : {1, 2}) {
    ScriptedMachine machine;
    QuietApplication application;
    failingBufferAllocations = failing;
    device::AtapiDevice device(machine, application);
    failingBufferAllocations = 0;
    EXPECT_FALSE(device.BuffersAllocated());
    EXPECT_EQ(device.DriveCount(), 0);
    EXPECT_THAT(machine.sent, IsEmpty());
    // Nothing is sent through a device without its buffers.
    EXPECT_FALSE(device.TestUnitReady());
    EXPECT_EQ(device.LastResult(), 0);
    EXPECT_THAT(machine.sent, IsEmpty());
  }
}

// The transport chosen by Initialize: the family, the application's Tag, the manager's presence.
struct TransportRow {
  const char* name;
  sim::Family family;
  int tag;
  bool aspiInstalled;
  bool useAspi;
  bool aspiLoaded;
};

class TransportTable : public ::testing::TestWithParam<TransportRow> {};

TEST_P(TransportTable, ChoosesTheFirstScan) {
  const TransportRow& row = GetParam();
  ScriptedMachine machine(row.family, row.aspiInstalled);
  QuietApplication application;
  application.SetTag(row.tag);
  device::AtapiDevice device(machine, application, false);
  EXPECT_EQ(device.UseAspi(), row.useAspi);
  EXPECT_EQ(device.AspiPresent(), row.aspiInstalled);
  EXPECT_EQ(device.AspiLoaded(), row.aspiLoaded);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TransportTable,
    ::testing::Values(TransportRow{"NtTagAspi", sim::Family::NT, 32767, true, true, true},
                      TransportRow{"NtTagNoAspi", sim::Family::NT, 32767, false, false, false},
                      TransportRow{"NtNoTagAspi", sim::Family::NT, 32766, true, false, false},
                      TransportRow{"NtNoTagNoAspi", sim::Family::NT, 0, false, false, false},
                      TransportRow{"ConsumerAspi", sim::Family::Consumer, 0, true, true, true},
                      TransportRow{"ConsumerNoAspi", sim::Family::Consumer, 32767, false, true,
                                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TransportTable, OnlyAForcedLoadWithoutManagerShowsAMessage) {
  ScriptedMachine nt(sim::Family::NT, false);
  ScriptedMachine consumer(sim::Family::Consumer, false);
  QuietApplication application;
  application.SetTag(32767);
  device::AtapiDevice onNt(nt, application, false);
  device::AtapiDevice onConsumer(consumer, application, false);
  EXPECT_THAT(nt.MessageBoxes(), IsEmpty());
  EXPECT_THAT(consumer.MessageBoxes(),
              ElementsAre("Error FS 002|LoadLibrary:\nWNASPI32.DLL not found."));
}

}  // namespace
}  // namespace movrel::test
