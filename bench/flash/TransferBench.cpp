// Host time of a 1 MiB image transfer to a drive that answers at once, against the time of
// copying and comparing the same 2 MiB of bytes (every chunk goes to the drive and comes back),
// both measured in the same run. Prints both and their ratio; fails when the transfer costs more
// than three times the plain copying and comparing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "InstantDrive.h"
#include "QuietApplication.h"
#include "device/AtapiDevice.h"

namespace {

constexpr std::int32_t kImageLength = 1 << 20;
constexpr double kAllowedRatio = 3.0;

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kImageLength);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);
  return image;
}

void BM_TransferImage(benchmark::State& state) {
  movrel::test::InstantDriveSystem system;
  movrel::test::QuietApplication application;
  movrel::device::AtapiDevice device(system, application);
  if (!device.SelectDrive(0)) {
    state.SkipWithError("no drive to transfer to");
    return;
  }
  const auto image = Image();
  for (auto _ : state) {
    if (!device.TransferImage(image.data(), kImageLength)) {
      state.SkipWithError("the transfer did not verify");
      return;
    }
  }
}
BENCHMARK(BM_TransferImage);

// The same bytes moved and compared without the commands: out to a buffer and back.
void BM_CopyAndCompare(benchmark::State& state) {
  const auto image = Image();
  std::vector<std::uint8_t> there(kImageLength);
  std::vector<std::uint8_t> back(kImageLength);
  for (auto _ : state) {
    std::memcpy(there.data(), image.data(), kImageLength);
    std::memcpy(back.data(), there.data(), kImageLength);
    benchmark::DoNotOptimize(std::memcmp(back.data(), image.data(), kImageLength));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CopyAndCompare);

// Keeps each benchmark's time per iteration as well as printing it.
class KeepingReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> nanoseconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (!run.error_occurred) nanoseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  KeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const auto transfer = reporter.nanoseconds.find("BM_TransferImage");
  const auto copy = reporter.nanoseconds.find("BM_CopyAndCompare");
  if (transfer == reporter.nanoseconds.end() || copy == reporter.nanoseconds.end()) return 1;
  const double ratio = transfer->second / copy->second;
  std::printf("transfer / copy and compare: %.2f (at most %.1f)\n", ratio, kAllowedRatio);
  return ratio <= kAllowedRatio ? 0 : 1;
}
