// The drives' locks: a named mutex for each address, which every user's flasher may take.
#include <windows.h>

#include <cstdio>

#include "platform/win32/SystemLibrary.h"
#include "platform/win32/Win32System.h"

namespace movrel::platform {

namespace {

// Windows 2000 and later: the namespace that every session shares.
constexpr DWORD kFirstGlobalNamespace = 5;
constexpr char kAdvapi32[] = "ADVAPI32.DLL";

template <typename Call>
Call Lookup(const char* name) {
  return reinterpret_cast<Call>(reinterpret_cast<void*>(win32::SystemCall(kAdvapi32, name)));
}

std::uint32_t AddressKey(const ScsiAddress& address) {
  return std::uint32_t{address.PortNumber} << 24 | std::uint32_t{address.PathId} << 16 |
         std::uint32_t{address.TargetId} << 8 | address.Lun;
}

// A security descriptor whose DACL grants Everyone what taking and letting go of a mutex needs,
// and nothing more (no WRITE_DAC: no flasher can change who may take it). Everyone rather than
// the interactive users: a flasher started by a deployment service, or with runas from another
// logon, takes part as well. The security calls are the NT family's: looked up, made on it alone,
// and where one is missing or fails there are no attributes (the creator's default DACL).
class EveryoneMayTake {
 public:
  // The attributes, or null where they cannot be made.
  SECURITY_ATTRIBUTES* Attributes() {
    static const auto initializeAcl = Lookup<decltype(&::InitializeAcl)>("InitializeAcl");
    static const auto addAce = Lookup<decltype(&::AddAccessAllowedAce)>("AddAccessAllowedAce");
    static const auto initializeDescriptor =
        Lookup<decltype(&::InitializeSecurityDescriptor)>("InitializeSecurityDescriptor");
    static const auto setDacl =
        Lookup<decltype(&::SetSecurityDescriptorDacl)>("SetSecurityDescriptorDacl");
    if (initializeAcl == nullptr || addAce == nullptr || initializeDescriptor == nullptr ||
        setDacl == nullptr) {
      return nullptr;
    }
    ACL* acl = reinterpret_cast<ACL*>(aclBuffer);
    const bool made = initializeAcl(acl, sizeof aclBuffer, ACL_REVISION) &&
                      addAce(acl, ACL_REVISION, SYNCHRONIZE | MUTEX_MODIFY_STATE, &everyone) &&
                      initializeDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                      setDacl(&descriptor, TRUE, acl, FALSE);
    return made ? &attributes : nullptr;
  }

 private:
  SID everyone{SID_REVISION, 1, SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}};
  DWORD aclBuffer[16] = {};  // an ACL with one ACE for a SID of one sub-authority
  SECURITY_DESCRIPTOR descriptor{};
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
};

}  // namespace

DriveLockState Win32System::LockDrive(const ScsiAddress& address, Handle& lock) {
  const std::uint32_t key = AddressKey(address);
  {
    Hold hold(heldLock);
    for (const auto& [handle, held] : heldDrives) {
      if (held == key) return DriveLockState::HeldElsewhere;  // a wait would take it again
    }
  }
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  const bool nt = ::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  char name[40];
  std::snprintf(name, sizeof name, "%sMovrel-%u-%u-%u-%u",
                nt && version.dwMajorVersion >= kFirstGlobalNamespace ? "Global\\" : "",
                address.PortNumber, address.PathId, address.TargetId, address.Lun);
  EveryoneMayTake access;
  const HANDLE mutex = ::CreateMutexA(nt ? access.Attributes() : nullptr, FALSE, name);
  if (mutex == nullptr) {
    const DWORD error = ::GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE
               ? DriveLockState::HeldElsewhere
               : DriveLockState::Unavailable;
  }
  switch (::WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: {
      Hold hold(heldLock);
      lock = reinterpret_cast<Handle>(mutex);
      heldDrives[lock] = key;
      return DriveLockState::Held;
    }
    case WAIT_TIMEOUT:
      ::CloseHandle(mutex);
      return DriveLockState::HeldElsewhere;
    default: {
      const DWORD error = ::GetLastError();
      ::CloseHandle(mutex);
      ::SetLastError(error);
      return DriveLockState::Unavailable;
    }
  }
}

bool Win32System::UnlockDrive(Handle lock) {
  {
    Hold hold(heldLock);
    if (heldDrives.erase(lock) == 0) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
  }
  const HANDLE mutex = reinterpret_cast<HANDLE>(lock);
  ::ReleaseMutex(mutex);
  ::CloseHandle(mutex);
  return true;
}

bool Win32System::GetDriveAddress(const char*, ScsiAddress&) {
  ::SetLastError(ERROR_INVALID_FUNCTION);
  return false;
}

}  // namespace movrel::platform
