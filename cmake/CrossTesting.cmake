# Where the tests of a cross build run, decided once for every project of
# the build: included at the top, before any test is added.
include_guard(GLOBAL)

# A cross build's tests run what it built. A 64-bit x86 kernel with IA32
# emulation runs a 32-bit program itself, set-user-ID bit and all, which is
# the proof that counts; a tiny program built with the project's toolchain
# tells whether this machine's kernel does. Where it does not, or with
# VIDSELECT_EMULATE, the tests run under qemu-user, and the end-to-end
# suites start the tool through a set-user-ID starter
# (tests/e2e/setuid_starter.c).
if(CMAKE_CROSSCOMPILING)
  option(VIDSELECT_EMULATE
    "Run the cross build's tests under qemu-user even where the kernel runs them itself" OFF)
  set(probe ${CMAKE_CURRENT_BINARY_DIR}/runs-here)
  file(REMOVE ${probe})
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/runs_here.cpp "int main() { return 0; }\n")
  try_compile(probe_built ${CMAKE_CURRENT_BINARY_DIR}/runs-here-probe
    ${CMAKE_CURRENT_BINARY_DIR}/runs_here.cpp COPY_FILE ${probe})
  set(probe_status "not built")
  if(probe_built)
    execute_process(COMMAND ${probe} RESULT_VARIABLE probe_status OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(probe_status STREQUAL "0" AND NOT VIDSELECT_EMULATE)
    message(STATUS "Tests: the ${CMAKE_SYSTEM_PROCESSOR} build runs on this machine's kernel")
  else()
    find_program(VIDSELECT_EMULATOR_PROGRAM ${VIDSELECT_CROSS_EMULATOR} REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VIDSELECT_EMULATOR_PROGRAM} -L ${VIDSELECT_CROSS_ROOT})
    if(VIDSELECT_EMULATE)
      set(reason "VIDSELECT_EMULATE is on")
    else()
      set(reason "a program built here for ${CMAKE_SYSTEM_PROCESSOR} did not run: ${probe_status}")
    endif()
    message(STATUS "Tests: the ${CMAKE_SYSTEM_PROCESSOR} build runs under "
      "${VIDSELECT_CROSS_EMULATOR} (${reason})")
  endif()
endif()
