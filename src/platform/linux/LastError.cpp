#include "platform/linux/LastError.h"

#include <cerrno>

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
      return kAccessDenied;
    case ENOENT:
      return kFileNotFound;
    case ENXIO:
    case ENODEV:
      return kDeviceGone;
    case EBADF:
      return kInvalidHandle;
    case EINVAL:
    case EMSGSIZE:
    case EFAULT:
      return kInvalidParameter;
    case ENOMEM:
      return kNotEnoughMemory;
    case EBUSY:
      return kBusy;
    case ETIMEDOUT:
      return kSemaphoreTimeout;
    case ENOTTY:
      return kInvalidFunction;
    default:
      return kIoDevice;
  }
}

}  // namespace movrel::platform::lasterror
