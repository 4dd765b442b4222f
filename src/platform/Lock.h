// A lock that one thread holds at a time, for the little state that threads share (the work
// posted to the window's thread, the tick count's carry, the simulated machine). Not recursive:
// the thread holding it never asks for it again. std::mutex on the systems whose C++ library has
// threads; on Windows a CRITICAL_SECTION, since the Windows flasher's C++ library is built without
// threads (the one with threads brings a thread library that imports calls the older systems
// lack).
//
// Windows: InitializeCriticalSection, EnterCriticalSection, LeaveCriticalSection and
// DeleteCriticalSection are in every Windows of both families. A critical section serves the
// threads of one process; EnterCriticalSection waits for as long as another thread holds it, and
// a thread may enter one it holds again (this lock never does).
#pragma once

#ifndef _WIN32
#include <mutex>
#endif

namespace movrel::platform {

class Lock {
 public:
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

#ifdef _WIN32
  Lock();  // InitializeCriticalSection
  ~Lock();
  void Acquire();  // EnterCriticalSection: waits while another thread holds it
  void Release();  // LeaveCriticalSection, by the thread holding it
#else
  Lock() = default;
  void Acquire() {
    mutex.lock();
  }
  void Release() {
    mutex.unlock();
  }
#endif

 private:
#ifdef _WIN32
  // The CRITICAL_SECTION record, kept here without <windows.h>: six pointer-sized fields at most.
  alignas(void*) unsigned char section[6 * sizeof(void*)];
#else
  std::mutex mutex;
#endif
};

// Holds a lock for its scope.
class Hold {
 public:
  explicit Hold(Lock& lock) : lock(lock) { lock.Acquire(); }
  ~Hold() { lock.Release(); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  Lock& lock;
};

}  // namespace movrel::platform
