# The live program's tests: its processing without devices, and the program itself against a
# JACK dummy server each test starts (skipped, not failed, when jackd is not installed).
# Included at the end of the top level (src/live/CMakeLists.txt), once the suite is set up.
if(NOT CIHEAR_TESTS)
  return()
endif()
include(GoogleTest)
set(dir ${CMAKE_CURRENT_LIST_DIR})
find_program(JACKD_EXECUTABLE jackd)
if(NOT JACKD_EXECUTABLE)
  message(STATUS "jackd not found: the live program's JACK tests will be skipped")
  set(JACKD_EXECUTABLE "")
endif()
add_executable(test_live ${dir}/ProcessorTest.cpp ${dir}/LiveProgramTest.cpp
                         ${dir}/BadInputTest.cpp ${dir}/LatencyTest.cpp ${dir}/KeysTest.cpp
                         ${dir}/WholeFactorTest.cpp
                         ${dir}/CountingMalloc.cpp)
target_include_directories(test_live PRIVATE ${dir} ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(test_live PRIVATE cihear_live util GTest::gtest GTest::gtest_main)
add_dependencies(test_live cihear-live)
target_compile_definitions(test_live PRIVATE CIHEAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                           CIHEAR_LIVE_EXE="$<TARGET_FILE:cihear-live>"
                           # app/RunProgram.h's RunProgram runs this one here
                           CIHEAR_EXE="$<TARGET_FILE:cihear-live>"
                           JACKD="${JACKD_EXECUTABLE}")
gtest_discover_tests(test_live DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)
