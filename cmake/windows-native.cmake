# The Windows configuration (CMAKE_SYSTEM_NAME Windows, see cmake/mingw-w64-x86_64.cmake): the
# layers with their Windows back ends (base, storage, process, emulator) and the layers above
# them (core, results) with velotrax-cli, the installer, and the test suites that apply on
# Windows, which ctest runs under Wine.
# The programs land at the top of the build directory, as on Linux, where `make windows` packs
# them and scripts/demo-workspace finds the demo emulator.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
add_subdirectory(${PROJECT_SOURCE_DIR}/process ${PROJECT_BINARY_DIR}/process)
add_subdirectory(emulator)
add_subdirectory(core)
add_subdirectory(results)
add_subdirectory(ui)
add_subdirectory(tools)
# The window: velotrax.exe, the Win32 front end.
add_subdirectory(${PROJECT_SOURCE_DIR}/ui/win32 ${PROJECT_BINARY_DIR}/ui/win32)
include(${PROJECT_SOURCE_DIR}/cmake/windows-installer.cmake)

if(NOT VELOTRAX_BUILD_TESTS)
  return()
endif()
enable_testing()

# Wine runs the test programs, in a prefix of this build directory's own so that a run never
# touches ~/.wine. scripts/wine-prefix makes it (or brings it up to date) before any test runs,
# and waits until Wine has settled: test programs started together never race to set it up.
set(VELOTRAX_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${VELOTRAX_WINEPREFIX} WINEDEBUG=-all wine)
add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix ${VELOTRAX_WINEPREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 600 LABELS windows)

# GoogleTest from Debian's sources (libgtest-dev puts them in /usr/src/googletest), built with
# the cross compiler like everything else here.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The suites built for Windows. tests/windows/ holds the suites of what only Windows has; the
# others are the suites of Linux, whose cases that cannot apply on Windows (signals, process
# groups, /proc, permission bits, shell-script stand-ins, mounts) skip themselves saying why.
# The suites of velotrax-cli, the runner's faults, the demo emulator, the soak and the stress
# run start POSIX stand-in programs (tests/helpers/) or read /proc and are not built here yet;
# wine_test runs Wine from Linux.
set(VELOTRAX_WINDOWS_TESTS tests/files_test tests/ini_file_test tests/string_list_test
                           tests/int_text_test tests/profile_syntax_test
                           tests/results_machine_test tests/emulator_contract_test
                           tests/settings_test tests/results_stats_test
                           tests/command_line_test tests/event_loop_test tests/line_assembler_test
                           tests/create_process_test tests/user_workspace_test
                           tests/state_test tests/score_files_test
                           tests/fault_files_test tests/emulator_dialect_test
                           tests/comparison_test tests/fuzz_regression_test
                           tests/results_json_test tests/results_scores_test
                           tests/sequencer_test
                           tests/windows/files_win32_test tests/windows/upper_layers_win32_test
                           tests/windows/cli_console_win32_test tests/windows/runner_win32_test)

# The runner tests' child program: tests/helpers/child.c is POSIX, its Windows stand-in has the
# same modes under the same name.
set(VELOTRAX_HELPER_DIR ${PROJECT_BINARY_DIR}/helpers)
add_executable(helper-child ${PROJECT_SOURCE_DIR}/tests/windows/child_win32.c)
set_target_properties(helper-child PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELOTRAX_HELPER_DIR})
# The sequencer tests' scripted emulator is plain C: the same source on both systems.
add_executable(helper-seq_script ${PROJECT_SOURCE_DIR}/tests/helpers/seq_script.c)
set_target_properties(helper-seq_script PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELOTRAX_HELPER_DIR})

foreach(test ${VELOTRAX_WINDOWS_TESTS})
  get_filename_component(name ${test} NAME)
  add_executable(${name} ${PROJECT_SOURCE_DIR}/${test}.cpp)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  # The source tree and the children as Wine sees them: the Unix root is drive Z:.
  target_compile_definitions(
    ${name} PRIVATE VELOTRAX_SOURCE_DIR="Z:${PROJECT_SOURCE_DIR}"
                    VELOTRAX_HELPER_DIR="Z:${VELOTRAX_HELPER_DIR}"
                    VELOTRAX_DEMO_EMULATOR="Z:$<TARGET_FILE:velotrax-demo-emulator>")
  target_link_libraries(${name} PRIVATE velotrax_cli velotrax_results GTest::gtest GTest::gmock
                                        GTest::gtest_main psapi)
  add_dependencies(${name} helper-child helper-seq_script velotrax-demo-emulator)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS windows FIXTURES_REQUIRED wine_prefix)
endforeach()

# The window, started in workspaces of its own and driven through its messages, on a virtual
# display of its own (xvfb-run), so that `make test-windows` needs no screen. It has a Wine prefix
# of its own: a prefix whose desktop was started by a test without a display, as the others run,
# shows no window. The demo workspace gives it the emulator and the sample reference computers.
set(VELOTRAX_WINDOW_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix-window)
set(VELOTRAX_XVFB xvfb-run --auto-servernum --server-args=-screen\ 0\ 1280x1024x24)
add_test(NAME wine_prefix_window
         COMMAND ${VELOTRAX_XVFB} env WINEPREFIX=${VELOTRAX_WINDOW_WINEPREFIX} WINEDEBUG=-all
                 wineboot --init)
set_tests_properties(wine_prefix_window PROPERTIES FIXTURES_SETUP wine_prefix_window TIMEOUT 600
                                                   LABELS windows)
add_test(NAME win32_demo_workspace
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/demo-workspace --windows ${PROJECT_BINARY_DIR})
set_tests_properties(win32_demo_workspace PROPERTIES FIXTURES_SETUP win32_demo_workspace
                                                     LABELS windows)
add_executable(window_win32_test ${PROJECT_SOURCE_DIR}/tests/windows/window_win32_test.cpp)
target_compile_definitions(window_win32_test PRIVATE VELOTRAX_BUILD_DIR="Z:${PROJECT_BINARY_DIR}")
target_link_libraries(window_win32_test PRIVATE velotrax_win32ui GTest::gtest GTest::gtest_main)
add_dependencies(window_win32_test velotrax velotrax-demo-emulator)
add_test(NAME window_win32_test
         COMMAND ${VELOTRAX_XVFB} env WINEPREFIX=${VELOTRAX_WINDOW_WINEPREFIX} WINEDEBUG=-all
                 wine $<TARGET_FILE:window_win32_test>)
set_tests_properties(window_win32_test PROPERTIES
                     TIMEOUT 600 LABELS windows
                     FIXTURES_REQUIRED "wine_prefix_window;win32_demo_workspace")
# A Ctrl+C typed in a real terminal (a tmux pane) ends velotrax-cli.exe's run under Wine.
add_test(NAME console_ctrl_c_test
         COMMAND sh ${PROJECT_SOURCE_DIR}/tests/windows/console_ctrl_c_test.sh ${PROJECT_BINARY_DIR}
                 ${VELOTRAX_WINEPREFIX})
set_tests_properties(console_ctrl_c_test PROPERTIES TIMEOUT 300 LABELS windows
                                                    FIXTURES_REQUIRED wine_prefix)
