# For a cross-build: the JSON library's headers alone (the host's include folder must not reach
# the target's compiler), and GoogleTest built from its sources with the target's compiler.
set(host_json ${CMAKE_BINARY_DIR}/host-include/nlohmann)
if(NOT EXISTS ${host_json})
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/host-include)
  file(CREATE_LINK /usr/include/nlohmann ${host_json} SYMBOLIC)
endif()
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/host-include)
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

if(MOVREL_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # Its locks are the Windows calls; the one class it builds on std::mutex, which the
  # cross-compiler's C++ library lacks, is the project's own (tests/support/GtestNotification.h).
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  # Its own targets carry the GTest:: names the tests link.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(notification ${PROJECT_SOURCE_DIR}/tests/support/GtestNotification)
  target_sources(gtest PRIVATE ${notification}.cpp)
  target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(gtest PUBLIC -include ${notification}.h)
endif()
