# The Windows configuration (CMAKE_SYSTEM_NAME Windows, see cmake/mingw-w64-x86_64.cmake): the
# layers base and storage with their Windows back ends, and the layers above the process runner
# (emulator, core, results) and velotrax-cli's library, with their test suites, which ctest runs
# under Wine. Whatever links the runner's code -- velotrax-cli.exe, the demo emulator and the
# suites that start children -- joins once process/ builds for Windows (added ahead of this file,
# velotrax_process is a target then); until then the layers above it are compiled against its
# headers and its parts that are plain C++ (the command-line words, the event loop, the line
# assembler), compiled unchanged: a program that needs the runner itself cannot link yet, and is
# not built.
if(TARGET velotrax_process)
  set(VELOTRAX_PROCESS_PENDING OFF)
else()
  set(VELOTRAX_PROCESS_PENDING ON)
  add_library(velotrax_process STATIC process/command_line.cpp process/event_loop.cpp
                                      process/line_assembler.cpp)
  target_include_directories(velotrax_process PUBLIC ${PROJECT_BINARY_DIR}/layers/process)
  target_link_libraries(velotrax_process PUBLIC velotrax_base Threads::Threads)
endif()
add_subdirectory(emulator)
add_subdirectory(core)
add_subdirectory(results)
add_subdirectory(tools)

if(NOT VELOTRAX_BUILD_TESTS)
  return()
endif()
enable_testing()

# Wine runs the test programs, in a prefix of this build directory's own so that a run never
# touches ~/.wine; the prefix is made once, by the first test (a first wineboot takes a while).
set(VELOTRAX_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${VELOTRAX_WINEPREFIX} WINEDEBUG=-all wine)
add_test(NAME wine_prefix COMMAND env WINEPREFIX=${VELOTRAX_WINEPREFIX} WINEDEBUG=-all
                                  wineboot --init)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 600 LABELS windows)

# GoogleTest from Debian's sources (libgtest-dev puts them in /usr/src/googletest), built with
# the cross compiler like everything else here.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The suites built for Windows. tests/windows/ holds the suites of what only Windows has; the
# others are the suites of Linux, whose cases that cannot apply on Windows skip themselves saying
# why. The suites that start children or build the program state (which holds an emulator's
# runner) need the runner's code and join once process/ builds for Windows.
set(VELOTRAX_WINDOWS_TESTS tests/files_test tests/ini_file_test tests/string_list_test
                           tests/int_text_test tests/profile_syntax_test
                           tests/results_machine_test tests/emulator_contract_test
                           tests/windows/files_win32_test tests/windows/upper_layers_win32_test
                           tests/windows/cli_console_win32_test)
# score_files_test, fault_files_test, state_test and emulator_dialect_test are not ported yet
# (named pipes, mount points, fork).
if(NOT VELOTRAX_PROCESS_PENDING)
  list(APPEND VELOTRAX_WINDOWS_TESTS tests/settings_test tests/results_stats_test)
endif()
foreach(test ${VELOTRAX_WINDOWS_TESTS})
  get_filename_component(name ${test} NAME)
  add_executable(${name} ${PROJECT_SOURCE_DIR}/${test}.cpp)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  # The source tree as Wine sees it: the Unix root is drive Z:.
  target_compile_definitions(${name} PRIVATE VELOTRAX_SOURCE_DIR="Z:${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PRIVATE velotrax_cli velotrax_results GTest::gtest GTest::gmock
                                        GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS windows FIXTURES_REQUIRED wine_prefix)
endforeach()
