# End-to-end suites: the real vidselect, installed set-user-ID root in a
# sandbox and run as real users (tests/e2e/lib.sh).
include_guard(GLOBAL)

# Where the kernel runs no 32-bit programs, the 32-bit tool runs under
# qemu-user, moved here behind a native set-user-ID starter that stands in
# for the kernel's set-user-ID exec (tests/e2e/setuid_starter.c).
set(VIDSELECT_EMULATED_TOOL /usr/local/lib/vidselect-emulated/vidselect)

# add_host_helper(NAME SOURCE [COMPILER_OPTION...]): the test helper NAME,
# built into this directory of the build from the C file SOURCE. Helpers
# run natively whatever the tool is built for, so they are built with the
# host's own C compiler, not the project's toolchain.
function(add_host_helper name source)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}
    COMMAND cc -std=c11 -O2 -Wall -Wextra -Werror ${ARGN}
            -o ${CMAKE_CURRENT_BINARY_DIR}/${name} ${source}
    DEPENDS ${source}
    COMMENT "Building the e2e helper ${name} for the host"
    VERBATIM)
  add_custom_target(host_helper_${name} ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${name})
endfunction()

# add_end_to_end_suite(NAME SCRIPT): the test e2e.NAME, run as
#   bash SCRIPT BUILD_DIR
function(add_end_to_end_suite name script)
  add_test(NAME e2e.${name} COMMAND bash ${script} ${CMAKE_BINARY_DIR})
  set_tests_properties(e2e.${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endfunction()
