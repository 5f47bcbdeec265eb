# pw_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One GoogleTest executable per layer. Each test case runs as its own CTest test in a private home
# (see tests/support/TestHome.h).
set(PW_TEST_DATA_DIR ${CMAKE_SOURCE_DIR}/tests/data)

# The environment (private home, offscreen Qt, SANE configuration, sanitizer options) is set by the
# tests' own main in tests/support/TestMain.cpp, so a test run by hand behaves as under CTest.
function(pw_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE pw_test_support ${ARG_LIBS} pw_warnings)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
