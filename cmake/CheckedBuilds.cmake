# Checked builds: PXCP_SANITIZE builds everything, tests included, with
# AddressSanitizer and UndefinedBehaviorSanitizer; PXCP_FUZZ also instruments
# the code for libFuzzer, for the fuzz targets of fuzz/ (clang only).
# Included before any target is defined, so that the flags reach them all.
option(PXCP_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(PXCP_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(PXCP_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "PXCP_FUZZ needs clang (CXX=clang++), not ${CMAKE_CXX_COMPILER_ID}")
endif()
if(PXCP_SANITIZE OR PXCP_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(PXCP_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
