// No heap allocation during an image transfer or a whole flash procedure: every allocation of
// this test program is counted.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "InstantDrive.h"
#include "QuietApplication.h"
#include "device/AtapiDevice.h"

namespace {
std::atomic<long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  ++allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++allocations;
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}

namespace movrel::test {

using device::AtapiDevice;
namespace {

// ThreadSanitizer brings its own allocator and takes the global operator new over from this
// program; the counts mean something only without it.
#if defined(__SANITIZE_THREAD__)
constexpr bool kCountsAllocations = false;
#else
constexpr bool kCountsAllocations = true;
#endif

class Counted : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kCountsAllocations) GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
  }
};

constexpr std::int32_t kImageLength = 1 << 20;

class Allocations : public Counted {
 protected:
  Allocations() : image(kImageLength), device(system, application) {
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    device.SelectDrive(0);
  }

  test::InstantDriveSystem system;
  test::QuietApplication application;
  std::vector<std::uint8_t> image;
  AtapiDevice device;
};

TEST_F(Counted, SeesTheAllocationsOfObjectsAndContainers) {
  const long before = allocations;
  // Through volatile pointers: an optimising build may otherwise leave out a new paired with its
  // delete.
  int* volatile number = new int(1);
  delete number;
  char* volatile bytes = new char[8];
  delete[] bytes;
  std::vector<int> numbers(16);
  int* volatile element = numbers.data();
  *element = 1;
  EXPECT_EQ(allocations - before, 3);
}

TEST_F(Allocations, NoneDuringAnImageTransfer) {
  const int commandsBefore = system.Commands();
  const long before = allocations;
  const bool sent = device.TransferImage(image.data(), kImageLength);
  const long during = allocations - before;
  ASSERT_TRUE(sent);
  EXPECT_EQ(during, 0);
  EXPECT_EQ(system.Commands() - commandsBefore, 2 * 64);
}

TEST_F(Allocations, NoneDuringAWholeFlashProcedure) {
  const long before = allocations;
  const bool flashed = device.FlashFirmware(image.data(), kImageLength, 0);
  const long during = allocations - before;
  ASSERT_TRUE(flashed);
  EXPECT_EQ(during, 0);
  EXPECT_EQ(system.ProgrammingCommands(), 1);
}

}  // namespace
}  // namespace movrel::test
