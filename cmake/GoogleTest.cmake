# GoogleTest for the unit tests, built from Debian's source package with
# the build's own toolchain, so that the 32-bit build tests against a
# 32-bit GoogleTest. Included by the unit tests, which get GoogleTest's
# CMake functions, whose variables are the including directory's own.
if(NOT TARGET gtest_main)
  set(VIDSELECT_GOOGLETEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH
    "GoogleTest's sources (Debian's googletest package)")
  if(NOT EXISTS ${VIDSELECT_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "The unit tests are built from GoogleTest's sources, which are not in "
      "${VIDSELECT_GOOGLETEST_SOURCE_DIR}. Install Debian's googletest package "
      "(apt-get install googletest, or apt-get build-dep ./ for every build dependency), "
      "or point VIDSELECT_GOOGLETEST_SOURCE_DIR at GoogleTest's googletest directory. "
      "To build the tool without the tests: cmake --preset tool (or -DBUILD_TESTING=OFF).")
  endif()
  set(INSTALL_GTEST OFF)
  add_subdirectory(${VIDSELECT_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
endif()
include(GoogleTest)
