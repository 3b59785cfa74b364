# Tests of the Windows build, run under Wine in one sandbox PC kept in the build folder. They
# share that PC, so they take turns (RESOURCE_LOCK) and the Wine server is stopped at the end.
set(SANDBOX_ROOT ${CMAKE_BINARY_DIR}/sandbox)

add_executable(hold_file ${PROJECT_SOURCE_DIR}/tests/e2e/hold_file.cpp)
target_link_libraries(hold_file PRIVATE castorel_warnings)
target_link_options(hold_file PRIVATE -static -municode)

add_library(planted_dll SHARED ${PROJECT_SOURCE_DIR}/tests/e2e/planted_dll.cpp)
target_link_libraries(planted_dll PRIVATE castorel_warnings)
target_link_options(planted_dll PRIVATE -static)

# The report reads the logs the rows leave: the Linux one, which the host preset builds first.
set(E2E_ENVIRONMENT "CASTOREL_EXE=$<TARGET_FILE:Castorel>;HOLD_FILE_EXE=$<TARGET_FILE:hold_file>;PLANTED_DLL=$<TARGET_FILE:planted_dll>;SANDBOX_ROOT=${SANDBOX_ROOT};REPORT_EXE=${PROJECT_SOURCE_DIR}/build/host/castorel-report;REPORT_WINDOWS_EXE=$<TARGET_FILE:castorel-report>")
# The scenario table first: it catches the most, soonest.
foreach(name test_scenarios test_executable test_report_exe test_sandbox_pc test_release_kit)
  add_test(NAME e2e_${name} COMMAND /usr/bin/python3 -m unittest -v ${name}
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/e2e)
  set_tests_properties(e2e_${name} PROPERTIES ENVIRONMENT "${E2E_ENVIRONMENT}")
endforeach()

set_target_properties(castorel_tests PROPERTIES
  CROSSCOMPILING_EMULATOR "/usr/bin/python3;${PROJECT_SOURCE_DIR}/scripts/sandbox_pc.py;--root;${SANDBOX_ROOT};exec")
target_link_options(castorel_tests PRIVATE -static)

add_test(NAME unit_tests_under_wine COMMAND castorel_tests)

# The real calls' answers that no scenario can lay out.
add_executable(win32_answers_tests
  ${PROJECT_SOURCE_DIR}/tests/win32_answers_test.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/process_win32.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/files_win32.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/identity_win32.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/rights_win32.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/shell_copy_win32.cpp)
target_link_libraries(win32_answers_tests PRIVATE castorel_logic shell32 shlwapi user32 advapi32
  GTest::gtest_main)
target_link_options(win32_answers_tests PRIVATE -static)
set_target_properties(win32_answers_tests PROPERTIES CROSSCOMPILING_EMULATOR
  "/usr/bin/python3;${PROJECT_SOURCE_DIR}/scripts/sandbox_pc.py;--root;${SANDBOX_ROOT};exec")
add_test(NAME win32_answers_under_wine COMMAND win32_answers_tests)

add_test(NAME wine_server_stop COMMAND /usr/bin/python3 -c
  "import sys; sys.path.insert(0, '${PROJECT_SOURCE_DIR}/scripts'); import sandbox_pc; sandbox_pc.SandboxPc('${SANDBOX_ROOT}').stop()")

get_property(wine_tests DIRECTORY PROPERTY TESTS)
list(REMOVE_ITEM wine_tests wine_server_stop)
set_tests_properties(${wine_tests} PROPERTIES RESOURCE_LOCK sandbox_pc FIXTURES_REQUIRED wine_server)
set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine_server)
