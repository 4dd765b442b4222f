#include "platform/linux/LastError.h"

#include <cerrno>

#include "platform/WinTypes.h"

namespace movrel::platform::lasterror {

namespace {
thread_local std::uint32_t threadValue = 0;
}  // namespace

std::uint32_t Get() {
  return threadValue;
}

void Set(std::uint32_t error) {
  threadValue = error;
}

bool Fail(std::uint32_t error) {
  threadValue = error;
  return false;
}

std::uint32_t FromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return ErrorCode::AccessDenied;
    case ENOENT:
      return ErrorCode::FileNotFound;
    case ENXIO:
    case ENODEV:
      return ErrorCode::DeviceGone;
    case EBADF:
      return ErrorCode::InvalidHandle;
    case EINVAL:
    case EMSGSIZE:
    case EFAULT:
      return ErrorCode::InvalidParameter;
    case ENOMEM:
      return ErrorCode::NotEnoughMemory;
    case EBUSY:
      return ErrorCode::Busy;
    case ETIMEDOUT:
      return ErrorCode::SemaphoreTimeout;
    case ENOTTY:
      return ErrorCode::InvalidFunction;
    default:
      return ErrorCode::IoDevice;
  }
}

}  // namespace movrel::platform::lasterror
