// Start-up when the device object cannot get its buffers. This test binary replaces the
// non-throwing array allocation, so that the device's 64 KiB buffers can be refused.
#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "WindowTestSupport.h"
#include "app/MovrelMain.h"
#include "device/AtapiDevice.h"
#include "sim/SimSystem.h"

namespace {
std::atomic<bool> refuseBuffers{false};
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (refuseBuffers && size == movrel::device::AtapiDevice::kBufferAllocation) return nullptr;
  try {
    return ::operator new[](size);  // the ordinary allocation, which delete[] releases
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace movrel::test {

namespace {

TEST(StartUpWithoutMemory, DeviceThatCannotBeCreatedEndsTheProgram) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0})};
  sim::SimSystem system(bay);
  ScriptedApplication application;
  const auto package = MakePackage(StandardRequest());

  refuseBuffers = true;
  app::TMovrelMain form(system, application, package.View());
  refuseBuffers = false;

  ASSERT_EQ(application.shown.size(), 1u);
  EXPECT_EQ(application.shown[0].title, "Error ...");
  EXPECT_EQ(application.shown[0].text, "Device object initialize failed !");
  EXPECT_TRUE(application.Terminated());
  EXPECT_EQ(form.GetEnding(), app::Ending::BeforeUpdate);
  EXPECT_EQ(form.MainDevice(), nullptr);
  EXPECT_TRUE(system.Trace().empty());
}

}  // namespace

namespace {

TEST(UpdateRunWithoutMemory, DriveDeviceWithoutBuffersFailsTheRunWithoutAnyCommand) {
  sim::BayConfig bay;
  bay.drives = {Drive('D', {0, 0, 0, 0})};
  sim::SimSystem system(bay);
  ScriptedApplication application;
  const auto package = MakePackage(StandardRequest());
  app::TMovrelMain form(system, application, package.View());
  const auto commandsBefore = system.Trace().size();

  refuseBuffers = true;
  form.cmdUpdateClick(&form.cmdUpdate);
  refuseBuffers = false;
  WaitForTheRun(form, application);

  ASSERT_EQ(application.shown.size(), 1u);
  EXPECT_EQ(application.shown[0].text,
            "Unable to flash firmware. Please contact with your vendor !");
  const auto trace = system.Trace();
  for (std::size_t i = commandsBefore; i < trace.size(); ++i) {
    EXPECT_EQ(trace[i].find(" 3B "), std::string::npos) << trace[i];
  }
}

}  // namespace
}  // namespace movrel::test
