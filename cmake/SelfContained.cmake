# movrel_self_contained(<target>): links a Linux program that must run without the system's
# shared libraries (a minimal rescue system, the virtual machine's initramfs) as a static
# position-independent executable on the platform layer that speaks to the system bus and the
# journal itself (there is no static libsystemd). Position-independent, so that a program run as
# root loads at a random address. Under the sanitizers, whose runtimes link only dynamically, it
# links dynamically on the libsystemd platform layer instead.
function(movrel_self_contained target)
  if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_libraries(${target} PRIVATE movrel_platform_linux_standalone)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_link_options(${target} PRIVATE -static-pie)
  else()
    target_link_libraries(${target} PRIVATE movrel_platform_linux)
  endif()
endfunction()
