# Writes a CTest file with one entry per test function that a Qt Test binary
# reports with -functions, so that no slot goes unregistered whatever its
# name. Run after each build of the binary.
#   cmake -D TEST_EXECUTABLE=... -D PREFIX=... -D PROPERTIES_FILE=...
#         -D CTEST_FILE=... -P RegisterQtTests.cmake
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${TEST_EXECUTABLE} -functions
  OUTPUT_VARIABLE listed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} -functions failed: ${status}")
endif()
file(READ ${PROPERTIES_FILE} properties)
string(REGEX MATCHALL "[A-Za-z0-9_]+\\(\\)" functions "${listed}")
set(content "")
foreach(function IN LISTS functions)
  string(REPLACE "()" "" function "${function}")
  string(APPEND content "add_test([==[${PREFIX}.${function}]==] [==[${TEST_EXECUTABLE}]==] ${function})\n"
    "set_tests_properties([==[${PREFIX}.${function}]==] PROPERTIES ${properties})\n")
endforeach()
file(WRITE ${CTEST_FILE} "${content}")
