// The last error of each thread, whose values are ErrorCode's.
#pragma once

#include <cstdint>

namespace movrel::platform::lasterror {

// The calling thread's value; 0 in a thread that has not set one.
std::uint32_t Get();
void Set(std::uint32_t error);
// Sets the value and returns false, for a failing call.
bool Fail(std::uint32_t error);
// The code for a kernel error number.
std::uint32_t FromErrno(int error);

}  // namespace movrel::platform::lasterror
