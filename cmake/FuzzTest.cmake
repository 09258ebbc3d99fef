# The tool's libFuzzer targets over the logic that turns untrusted text into
# what a root process acts on. BuildFlags.cmake has already added the
# sanitizers and -fsanitize=fuzzer-no-link; each target links libFuzzer's
# own main.
include_guard(GLOBAL)

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz targets need clang's libFuzzer: configure with the fuzz preset")
endif()

# Enough for a few seconds of every target on each test run, which is what a
# test suite can afford; a longer hunt runs the fuzzer by hand.
set(VIDSELECT_FUZZ_RUNS 200000 CACHE STRING "Inputs each fuzz.* test tries")

# add_fuzz_test(NAME LIBRARY LONGEST_INPUT): the target NAME_fuzzer, built
# from NAME_fuzzer.cpp in the calling directory, and the test fuzz.NAME
# that runs it from the seeds in corpus/NAME there. One target a piece of
# logic. The longest input is bounded per target: a little over what the
# logic looks at, so the runs go to inputs that matter. A target whose
# logic looks for keywords has them in NAME.dict. What every target shares
# (fuzzcheck.h, run-fuzzer.sh) is in fuzz/.
function(add_fuzz_test name library longestInput)
  set(shared ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../fuzz)
  add_executable(${name}_fuzzer ${name}_fuzzer.cpp)
  target_include_directories(${name}_fuzzer PRIVATE ${shared})
  target_link_libraries(${name}_fuzzer PRIVATE ${library} vidselect_warnings)
  target_link_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer)
  set(options -max_len=${longestInput})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${name}.dict)
    list(APPEND options -dict=${CMAKE_CURRENT_SOURCE_DIR}/${name}.dict)
  endif()
  add_test(NAME fuzz.${name}
    COMMAND bash ${shared}/run-fuzzer.sh $<TARGET_FILE:${name}_fuzzer>
            ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name} ${VIDSELECT_FUZZ_RUNS} ${options})
  set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 600)
endfunction()
