# Unit tests of the stand-ins' pure logic; tests/unit/CMakeLists.txt includes
# this file when the stand-ins are built.
add_executable(standin_unit_tests rolesfile_test.cpp dispconfig_test.cpp)
target_link_libraries(standin_unit_tests PRIVATE vorn_rolesfile dispconfig_logic gtest_main vidselect_warnings)
gtest_discover_tests(standin_unit_tests TEST_PREFIX "unit.")
