# pw_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One GoogleTest executable per layer. Each test case runs as its own CTest test in a private home
# (see tests/support/TestHome.h); the runner points HOME, XDG_* and TMPDIR away from the user's.
set(PW_TEST_DATA_DIR ${CMAKE_SOURCE_DIR}/tests/data)
set(PW_TEST_ENV
    QT_QPA_PLATFORM=offscreen
    SANE_CONFIG_DIR=${PW_TEST_DATA_DIR}/sane
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")

function(pw_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE pw_test_support ${ARG_LIBS} pw_warnings)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "${PW_TEST_ENV}" TIMEOUT 300)
endfunction()
