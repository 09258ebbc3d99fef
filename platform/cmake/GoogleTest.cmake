# GoogleTest for the unit tests, built from Debian's source package with the
# build's own toolchain, so that the 32-bit build tests against a 32-bit
# GoogleTest.
set(STANDINS_GOOGLETEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH
  "GoogleTest's sources (Debian's googletest package)")
if(NOT EXISTS ${STANDINS_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "The unit tests are built from GoogleTest's sources, which are not in "
    "${STANDINS_GOOGLETEST_SOURCE_DIR}: apt-get install googletest, or configure with "
    "-DBUILD_TESTING=OFF.")
endif()
set(INSTALL_GTEST OFF)
add_subdirectory(${STANDINS_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
include(GoogleTest)
