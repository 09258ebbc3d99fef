# Where a cross build's tests run: on this machine's kernel where a tiny
# program built with the toolchain runs, else (or with STANDINS_EMULATE)
# under qemu-user.
include_guard(GLOBAL)

if(CMAKE_CROSSCOMPILING)
  option(STANDINS_EMULATE
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
  if(probe_status STREQUAL "0" AND NOT STANDINS_EMULATE)
    message(STATUS "Tests: the ${CMAKE_SYSTEM_PROCESSOR} build runs on this machine's kernel")
  else()
    find_program(STANDINS_EMULATOR_PROGRAM ${STANDINS_CROSS_EMULATOR} REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${STANDINS_EMULATOR_PROGRAM} -L ${STANDINS_CROSS_ROOT})
    message(STATUS "Tests: the ${CMAKE_SYSTEM_PROCESSOR} build runs under ${STANDINS_CROSS_EMULATOR}"
      " (probe: ${probe_status})")
  endif()
endif()
