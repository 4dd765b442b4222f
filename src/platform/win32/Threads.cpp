// The lock, the thread start and the thread identity on the Windows calls (Lock.h,
// JoinableThread.h, ThreadId.h).
#include <windows.h>

#include <system_error>
#include <utility>

#include "platform/JoinableThread.h"
#include "platform/Lock.h"
#include "platform/ThreadId.h"

namespace movrel::platform {

namespace {

static_assert(sizeof(CRITICAL_SECTION) <= 6 * sizeof(void*));
static_assert(alignof(CRITICAL_SECTION) <= alignof(void*));
static_assert(sizeof(ThreadId) == sizeof(DWORD));

DWORD WINAPI RunBody(void* body) {
  (*static_cast<std::function<void()>*>(body))();
  return 0;
}

}  // namespace

Lock::Lock() {
  ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section));
}

Lock::~Lock() {
  ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section));
}

void Lock::Acquire() {
  ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section));
}

void Lock::Release() {
  ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section));
}

ThreadId CurrentThreadId() {
  return ::GetCurrentThreadId();
}

JoinableThread::~JoinableThread() {
  Join();
}

void JoinableThread::Start(std::function<void()> run) {
  body = std::move(run);
  DWORD id = 0;
  handle = ::CreateThread(nullptr, 0, &RunBody, &body, 0, &id);
  if (handle == nullptr) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "CreateThread");
  }
}

bool JoinableThread::Joinable() const {
  return handle != nullptr;
}

void JoinableThread::Join() {
  if (handle == nullptr) return;
  ::WaitForSingleObject(handle, INFINITE);
  ::CloseHandle(handle);
  handle = nullptr;
}

}  // namespace movrel::platform
