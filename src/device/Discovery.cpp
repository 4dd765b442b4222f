// Drive discovery: the scan through the pass-through (drive roots and SCSI addresses) or through
// the ASPI manager, the fall-back from ASPI to pass-through, the sort by address, and the
// identification of every drive found.
#include <algorithm>
#include <cstring>

#include "device/AtapiDevice.h"
#include "device/DeviceName.h"
#include "device/DriveLock.h"
#include "platform/System.h"

namespace movrel::device {

namespace {

// The list of drive roots, in a zero-filled buffer from the process heap.
class RootList {
 public:
  enum class State { Empty, NoMemory, Ready };

  explicit RootList(platform::System& system) : system(system) {
    size = system.GetLogicalDriveStringsA(0, nullptr);
    if (size == 0) return;
    heap = system.GetProcessHeap();
    if (heap != 0)
      buffer = static_cast<char*>(system.HeapAlloc(heap, platform::HeapFlags::ZeroFill, size));
    if (buffer == nullptr) {
      state = State::NoMemory;
      return;
    }
    system.GetLogicalDriveStringsA(size, buffer);
    state = State::Ready;
  }
  ~RootList() {
    if (buffer != nullptr) system.HeapFree(heap, 0, buffer);
  }
  RootList(const RootList&) = delete;
  RootList& operator=(const RootList&) = delete;

  State GetState() const { return state; }

  // Calls visit(root) for each root in list order, up to the empty string that ends the list
  // (or the end of the buffer), until visit returns false.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (std::uint32_t at = 0; state == State::Ready && at < size && buffer[at] != '\0';) {
      const char* root = buffer + at;
      const void* end = std::memchr(root, '\0', size - at);
      if (end == nullptr || !visit(root)) return;
      at += static_cast<std::uint32_t>(static_cast<const char*>(end) - root) + 1;
    }
  }

 private:
  platform::System& system;
  State state = State::Empty;
  std::uint32_t size = 0;
  platform::Handle heap = 0;
  char* buffer = nullptr;
};

constexpr int kIdentifyAttempts = 10;
// Drives whose address query is refused are listed on made-up ports from 2 on.
constexpr std::int16_t kFirstMadeUpPort = 2;
constexpr int kTargetsPerAdapter = 16;
constexpr int kLunsPerTarget = 8;

std::int32_t SortKey(const DriveEntry& entry) {
  return std::int32_t{entry.portNumber} * 4096 + std::int32_t{entry.pathId} * 256 +
         std::int32_t{entry.targetId} * 16 + entry.lun;
}

// The flash identity query, sent to every drive found.
constexpr CommandBlock kReadFlashIdBlock{0xDF, 0x11, 0x00, 0x00, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr std::uint32_t kFlashIdReplyLength = 128;

}  // namespace

void AtapiDevice::DiscoverDrives() {
  for (;;) {
    std::memset(drives, 0, sizeof drives);
    driveCount = 0;
    if (useAspi) {
      ScanAspi();
    } else {
      ScanPassThrough();
    }
    for (DriveEntry& entry : drives) {
      if (entry.valid != 1) continue;
      ++driveCount;
      entry.viaAspi = useAspi ? 1 : 0;
    }
    // ASPI that misses a drive the system lists gives way to the pass-through, once.
    if (useAspi && CountCdromRoots() > driveCount && osInfo.IsNT()) {
      useAspi = false;
      UnloadAspi();
      continue;
    }
    break;
  }
  SortDrives();

  // A drive that another flasher is updating is sent nothing and left out of the table.
  const std::uint16_t found = driveCount;  // the first entries, after the sort
  busyCount = 0;
  for (std::int16_t j = 0; j < found; ++j) {
    if (DriveLock::HeldElsewhere(system, drives[j])) {
      busyDrives[busyCount++] = drives[j];
      drives[j].valid = 0;
      continue;
    }
    // A drive that lets a command run out its time-out is sent nothing more: each further
    // command would wait as long again, and discovery goes on to the other drives.
    SelectDrive(j);
    WaitWhileUnitAttention();
    if (!LastTimedOut() && InquireIdentityRepeatedly()) StoreIdentity(drives[j]);
    if (!LastTimedOut()) ReadFlashId();
    CloseDrive();
  }
  if (busyCount != 0) {
    driveCount = static_cast<std::uint16_t>(found - busyCount);
    SortDrives();
  }
}

void AtapiDevice::ScanPassThrough() {
  const RootList roots(system);
  int slot = 0;
  std::int16_t unaddressed = 0;
  roots.ForEach([&](const char* root) {
    if (system.GetDriveTypeA(root) != platform::DriveType::CdRom) return true;
    // The table holds 16 drives; a 17th and later are ignored.
    if (slot == kMaxDrives) return false;
    DriveEntry& entry = drives[slot];
    std::strncpy(entry.driveRoot, root, sizeof entry.driveRoot - 1);
    entry.viaAspi = 0;
    // A drive that another flasher holds is not opened: the open alone would reach it, and may
    // wait behind that flasher's command. The system may tell its address without an open.
    platform::ScsiAddress address{};
    const bool heldElsewhere =
        system.GetDriveAddress(root, address) && AddressHeldElsewhere(address);
    const AddressAnswer answer =
        heldElsewhere ? AddressAnswer::Given : GetScsiAddress(root, address);
    if (answer == AddressAnswer::Refused) {
      entry.valid = 1;
      entry.portNumber = static_cast<std::int16_t>(kFirstMadeUpPort + unaddressed);
      entry.targetId = entry.lun = entry.pathId = 0;
      ++unaddressed;
    } else if (answer == AddressAnswer::Given) {
      entry.valid = 1;
      entry.portNumber = address.PortNumber;
      entry.pathId = address.PathId;
      entry.targetId = address.TargetId;
      entry.lun = address.Lun;
    }
    ++slot;
    return true;
  });
}

bool AtapiDevice::AddressHeldElsewhere(const platform::ScsiAddress& address) {
  DriveEntry entry{};
  entry.portNumber = address.PortNumber;
  entry.pathId = address.PathId;
  entry.targetId = address.TargetId;
  entry.lun = address.Lun;
  return DriveLock::HeldElsewhere(system, entry);
}

AtapiDevice::AddressAnswer AtapiDevice::GetScsiAddress(const char* root,
                                                       platform::ScsiAddress& address) {
  const DeviceName name = DeviceNameOf(root);
  const platform::Handle device = system.CreateFileA(name.data());
  if (device == platform::InvalidHandleValue) {
    if (system.GetLastError() == platform::ErrorCode::AccessDenied) driveAccessDenied = true;
    return AddressAnswer::None;
  }
  std::uint32_t returned = 0;
  AddressAnswer answer = AddressAnswer::Given;
  if (!system.DeviceIoControl(device, platform::ioctl::ScsiGetAddress, &address, sizeof address,
                              &address, sizeof address, &returned)) {
    answer = AddressAnswer::Refused;
  } else if (address.Length == 0) {
    answer = AddressAnswer::None;
  }
  system.CloseHandle(device);
  return answer;
}

void AtapiDevice::ScanAspi() {
  // Without a loaded manager there is nobody to ask.
  if (!sendAspiCommand) return;

  platform::SrbHaInquiry inquiry{};
  inquiry.SRB_Cmd = platform::SC_HA_INQUIRY;
  sendAspiCommand(&inquiry);
  if (inquiry.SRB_Status != platform::SS_COMP) return;
  const int adapters = inquiry.HA_Count;

  for (int a = 0; a < adapters; ++a) {
    platform::SrbRescanPort rescan{};
    rescan.SRB_Cmd = platform::SC_RESCAN_SCSI_BUS;
    rescan.SRB_HaId = static_cast<std::uint8_t>(a);
    sendAspiCommand(&rescan);
  }

  int slot = 0;
  for (int a = 0; a < adapters; ++a) {
    inquiry = {};
    inquiry.SRB_Cmd = platform::SC_HA_INQUIRY;
    inquiry.SRB_HaId = static_cast<std::uint8_t>(a);
    sendAspiCommand(&inquiry);
    if (inquiry.SRB_Status != platform::SS_COMP) return;
    for (int t = 0; t < kTargetsPerAdapter; ++t) {
      for (int l = 0; l < kLunsPerTarget; ++l) {
        platform::SrbGetDeviceBlock query{};
        query.SRB_Cmd = platform::SC_GET_DEV_TYPE;
        query.SRB_HaId = static_cast<std::uint8_t>(a);
        query.SRB_Target = static_cast<std::uint8_t>(t);
        query.SRB_Lun = static_cast<std::uint8_t>(l);
        sendAspiCommand(&query);
        if (query.SRB_Status != platform::SS_COMP ||
            query.SRB_DeviceType != platform::DTYPE_CDROM) {
          continue;
        }
        // The table holds 16 drives; a 17th and later are ignored.
        if (slot == kMaxDrives) return;
        DriveEntry& entry = drives[slot++];
        entry.valid = 1;
        entry.portNumber = static_cast<std::int16_t>(a);
        entry.targetId = static_cast<std::int16_t>(t);
        entry.lun = static_cast<std::int16_t>(l);
        entry.pathId = 0;
      }
    }
  }
}

std::int16_t AtapiDevice::CountCdromRoots() {
  const RootList roots(system);
  if (roots.GetState() == RootList::State::NoMemory) return -1;
  std::int16_t count = 0;
  roots.ForEach([&](const char* root) {
    if (system.GetDriveTypeA(root) == platform::DriveType::CdRom) ++count;
    return true;
  });
  return count;
}

void AtapiDevice::SortDrives() {
  // A stable insertion sort of the valid entries by address key.
  DriveEntry sorted[kMaxDrives] = {};
  int count = 0;
  for (const DriveEntry& entry : drives) {
    if (entry.valid != 1) continue;
    int at = count++;
    for (; at > 0 && SortKey(sorted[at - 1]) > SortKey(entry); --at) sorted[at] = sorted[at - 1];
    sorted[at] = entry;
  }
  std::memcpy(drives, sorted, sizeof drives);
}

// Not again after a time-out: a drive that did not answer within it is not asked once more.
bool AtapiDevice::InquireIdentityRepeatedly() {
  for (int attempt = 0; attempt < kIdentifyAttempts; ++attempt) {
    if (InquireIdentity()) return true;
    if (LastTimedOut()) return false;
  }
  return false;
}

bool AtapiDevice::ReadFlashId() {
  // A reply shorter than 128 bytes must not be completed by bytes of an earlier reply.
  if (BuffersFree()) std::memset(inBuffer, 0, kFlashIdReplyLength);
  if (!ExecuteCommand(kReadFlashIdBlock, DataDirection::FromDrive, kFlashIdReplyLength)) {
    return false;
  }
  return std::any_of(inBuffer, inBuffer + kFlashIdReplyLength,
                     [](std::uint8_t byte) { return byte != 0; });
}

}  // namespace movrel::device
