// Discovery of 16 optical drives that answer at once, on the simulated machine's virtual clock:
// the construction of the window's AtapiDevice (transport choice, scan, sort, identification)
// and its destruction.
#include <benchmark/benchmark.h>

#include <string>

#include "QuietApplication.h"
#include "device/AtapiDevice.h"
#include "platform/Application.h"
#include "sim/SimSystem.h"

namespace {

using movrel::test::QuietApplication;

movrel::sim::BayConfig SixteenDrives(movrel::sim::Family family) {
  movrel::sim::BayConfig bay;
  bay.family = family;
  bay.aspi = family == movrel::sim::Family::Consumer;
  bay.hostAdapters = 2;
  for (int i = 0; i < 16; ++i) {
    movrel::sim::DriveConfig drive;
    drive.name = std::string(1, static_cast<char>('D' + i));
    drive.root = drive.name + ":\\";
    drive.address = {i / 8, 0, i % 8, 0};
    drive.medium = true;
    bay.drives.push_back(drive);
  }
  return bay;
}

void Discover(benchmark::State& state, movrel::sim::Family family) {
  movrel::sim::SimSystem machine(SixteenDrives(family));
  QuietApplication application;
  for (auto _ : state) {
    movrel::device::AtapiDevice device(machine, application);
    if (device.DriveCount() != 16) state.SkipWithError("not every drive was found");
    machine.ClearTrace();
  }
}

void BM_DiscoverSixteenDrivesPassThrough(benchmark::State& state) {
  Discover(state, movrel::sim::Family::NT);
}
void BM_DiscoverSixteenDrivesAspi(benchmark::State& state) {
  Discover(state, movrel::sim::Family::Consumer);
}

BENCHMARK(BM_DiscoverSixteenDrivesPassThrough)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiscoverSixteenDrivesAspi)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
