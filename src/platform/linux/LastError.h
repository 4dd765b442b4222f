// The Windows error codes the backend reports, and the last error of each thread.
#pragma once

#include <cstdint>

namespace movrel::platform::lasterror {

inline constexpr std::uint32_t kInvalidFunction = 1;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kNotEnoughMemory = 8;
inline constexpr std::uint32_t kNotSupported = 50;
inline constexpr std::uint32_t kDeviceGone = 55;
inline constexpr std::uint32_t kDriveLocked = 108;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kSemaphoreTimeout = 121;
inline constexpr std::uint32_t kInsufficientBuffer = 122;
inline constexpr std::uint32_t kModuleNotFound = 126;
inline constexpr std::uint32_t kNotLocked = 158;
inline constexpr std::uint32_t kBusy = 170;
inline constexpr std::uint32_t kIoDevice = 1117;
inline constexpr std::uint32_t kNoSuchPrivilege = 1313;
inline constexpr std::uint32_t kPrivilegeNotHeld = 1314;

// The calling thread's value; 0 in a thread that has not set one.
std::uint32_t Get();
void Set(std::uint32_t error);
// Sets the value and returns false, for a failing call.
bool Fail(std::uint32_t error);
// The code for a kernel error number.
std::uint32_t FromErrno(int error);

}  // namespace movrel::platform::lasterror
