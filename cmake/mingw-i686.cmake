# Cross-building for 32-bit Windows with mingw-w64's win32 thread model: its C++ library has no
# std::thread or std::mutex (the project's own lock and thread start stand in, platform/Lock.h),
# and so no thread library (winpthreads) whose imports the older systems lack. Everything is
# linked statically: the executables need no compiler DLLs. Packages come from the mingw root
# only, never from this machine's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The stack protector's guard on every function with an array or an address taken; its runtime
# (libssp) is linked in with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -fstack-protector-strong")
# This GCC reports false overlaps in std::string's inlined copies when optimising (its bug
# 105651): that one warning is off.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict -fstack-protector-strong")
