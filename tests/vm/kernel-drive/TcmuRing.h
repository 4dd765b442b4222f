// The command ring of one user-space device of the kernel's SCSI target (target_core_user, the
// kernel's Documentation/target/tcmu-design.rst). The kernel puts each command on the ring as an
// entry that names, by offsets into the shared region, its command block and its data buffers,
// then moves the ring's head on; the handler writes its reply over the entry (status, sense data,
// the bytes a data-in command read) and moves the tail on. PAD entries fill the ring's end so that
// no entry wraps; any other kind of entry is marked as unknown and passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace kerneldrive {

struct RingCommand {
  // As many bytes as the kernel passes for the operation code: it trims every command block to
  // its group's length (scsi_command_size: 6 for 00-1F, 10 for 20-5F and C0-FF, 16 for 80-9F,
  // 12 for A0-BF and 60-7E; a variable-length block, 7F, says its own).
  std::span<const std::uint8_t> cdb;
  // The data buffers in order: what the host sends (data-out) or where the reply goes (data-in).
  // The ring says which neither; the command's operation code does.
  std::vector<std::span<std::uint8_t>> buffers;
};

struct RingReply {
  std::uint8_t status = 0;                  // SCSI status
  std::vector<std::uint8_t> sense;          // with CHECK CONDITION, as the drive sends them
  std::optional<std::uint32_t> readLength;  // of a data-in reply, when fewer bytes moved
};

using RingHandler = std::function<RingReply(const RingCommand&)>;

class Ring {
 public:
  // The region as mapped from the device's /dev/uioN; throws std::runtime_error when its mailbox
  // is of another version.
  Ring(std::uint8_t* region, std::size_t size);

  // Completes every entry from the tail to the head, commands with the handler's reply; returns
  // the number of entries passed (0: nothing for the kernel to collect).
  std::size_t Serve(const RingHandler& handler);

 private:
  std::uint32_t Head() const;
  void SetTail(std::uint32_t tail);
  RingCommand Command(std::size_t entry) const;
  void Complete(std::size_t entry, const RingReply& reply);
  // The byte at `offset`, when `length` bytes from there lie inside the region.
  std::uint8_t* At(std::uint64_t offset, std::uint64_t length) const;

  std::uint8_t* region;
  std::size_t size;
  std::size_t ringOffset;
  std::uint32_t ringSize;
  bool readLengthTaken;
};

}  // namespace kerneldrive
