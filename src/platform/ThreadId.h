// The identity of a thread of the process: equal for the same thread, ordered, and ThreadId{} for
// no thread. std::thread::id, or Windows' thread identifier (a DWORD) on Windows.
#pragma once

#ifndef _WIN32
#include <thread>
#endif

namespace movrel::platform {

#ifdef _WIN32
using ThreadId = unsigned long;
#else
using ThreadId = std::thread::id;
#endif

// The calling thread's identity. Windows: GetCurrentThreadId, which no other thread of the system
// has while the calling thread runs.
ThreadId CurrentThreadId();

}  // namespace movrel::platform
