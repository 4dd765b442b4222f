// movrel-transport-bench [ROUNDS]: the host's cost of the program's transport on a real kernel.
// On the machine's first optical drive (/dev/sr0, the program's D:), it moves a 1 MiB image the
// way an update does, 64 chunks of 16 KiB each written with WRITE BUFFER and read back with READ
// BUFFER and compared, in two ways taken in turns: through the program's own layers (the drive's
// device, the Linux backend, SG_IO) and through a bare SG_IO loop of the same commands on one
// descriptor. Prints the median time of each per image and their ratio. The drive must take
// WRITE BUFFER mode 5 and give the data back with READ BUFFER mode 1 (the kernel drive of the
// virtual machine's tests serves such a drive). Exit status 0 when every transfer verified.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "QuietApplication.h"
#include "device/AtapiDevice.h"
#include "platform/linux/LinuxSystem.h"

namespace {

constexpr char kDrive[] = "/dev/sr0";
constexpr int kChunk = 16384;
constexpr int kChunks = 64;
constexpr unsigned kTimeoutMilliseconds = 30000;

using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> Image() {
  std::vector<std::uint8_t> image(kChunk * kChunks);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 7);
  return image;
}

// The 12-byte command the program sends: the operation, mode, buffer ID, a 24-bit offset and a
// 24-bit length.
void BufferCommand(std::uint8_t (&cdb)[12], std::uint8_t operation, std::uint8_t mode, int offset) {
  std::memset(cdb, 0, sizeof cdb);
  cdb[0] = operation;
  cdb[1] = mode;
  cdb[2] = 0x01;
  cdb[3] = static_cast<std::uint8_t>(offset >> 16);
  cdb[4] = static_cast<std::uint8_t>(offset >> 8);
  cdb[5] = static_cast<std::uint8_t>(offset);
  cdb[6] = static_cast<std::uint8_t>(kChunk >> 16);
  cdb[7] = static_cast<std::uint8_t>(kChunk >> 8);
  cdb[8] = static_cast<std::uint8_t>(kChunk);
}

bool SgIo(int descriptor, std::uint8_t (&cdb)[12], int direction, void* data) {
  std::uint8_t sense[32];
  sg_io_hdr request{};
  request.interface_id = 'S';
  request.cmd_len = sizeof cdb;
  request.cmdp = cdb;
  request.dxfer_direction = direction;
  request.dxfer_len = kChunk;
  request.dxferp = data;
  request.mx_sb_len = sizeof sense;
  request.sbp = sense;
  request.timeout = kTimeoutMilliseconds;
  return ioctl(descriptor, SG_IO, &request) == 0 && request.status == 0 &&
         request.host_status == 0 && request.driver_status == 0 && request.resid == 0;
}

// The same commands, on one descriptor, each chunk compared as the program compares it.
bool BareTransfer(int descriptor, const std::vector<std::uint8_t>& image) {
  static std::vector<std::uint8_t> back(kChunk);
  std::uint8_t cdb[12];
  for (int chunk = 0; chunk < kChunks; ++chunk) {
    const int offset = chunk * kChunk;
    BufferCommand(cdb, 0x3B, 0x05, offset);
    if (!SgIo(descriptor, cdb, SG_DXFER_TO_DEV, const_cast<std::uint8_t*>(&image[offset]))) {
      return false;
    }
    BufferCommand(cdb, 0x3C, 0x01, offset);
    if (!SgIo(descriptor, cdb, SG_DXFER_FROM_DEV, back.data())) return false;
    if (std::memcmp(back.data(), &image[offset], kChunk) != 0) return false;
  }
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const std::vector<std::uint8_t> image = Image();

  movrel::platform::LinuxSystem system;
  movrel::test::QuietApplication application;
  movrel::device::AtapiDevice device(system, application);  // discovers the drives
  if (device.DriveCount() == 0 || !device.SelectDrive(0)) {
    std::fprintf(stderr, "movrel-transport-bench: no drive to transfer to\n");
    return 2;
  }
  const int descriptor = open(kDrive, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    std::perror(kDrive);
    return 2;
  }

  std::vector<double> bare, transport;
  bool verified = true;
  for (int round = 0; round < rounds && verified; ++round) {
    auto start = Clock::now();
    verified = BareTransfer(descriptor, image);
    bare.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    start = Clock::now();
    verified = verified && device.TransferImage(image.data(), kChunk * kChunks);
    transport.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  close(descriptor);
  if (!verified) {
    std::fprintf(stderr, "movrel-transport-bench: a transfer did not verify\n");
    return 1;
  }
  const double bareSeconds = Median(bare);
  const double transportSeconds = Median(transport);
  std::printf("1 MiB, %d commands, median of %d: bare SG_IO %.1f ms, transport %.1f ms\n",
              2 * kChunks, rounds, bareSeconds * 1e3, transportSeconds * 1e3);
  std::printf("transport/bare %.3f\n", transportSeconds / bareSeconds);
  return 0;
}
