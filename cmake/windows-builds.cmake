# The Windows programs (cmake/windows/) for the Wine tests and `make demo-windows`: built as a
# separate cross-compiled project when the MinGW-w64 compiler is installed, and left out without
# a word of complaint otherwise. They are not part of the program's default build; the tests
# that run them under Wine ask for them, and skip themselves when they are missing.
find_program(VELOTRAX_MINGW_CXX x86_64-w64-mingw32-g++)
if(NOT VELOTRAX_MINGW_CXX)
  message(STATUS "MinGW-w64 not found: the Windows demo emulator and the Wine launcher are not built")
  return()
endif()

include(ExternalProject)
set(VELOTRAX_WINDOWS_DEMO ${PROJECT_BINARY_DIR}/velotrax-demo-emulator.exe)
set(VELOTRAX_WINE_LAUNCHER ${PROJECT_BINARY_DIR}/velotrax-wine-launcher.exe)
ExternalProject_Add(velotrax-windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/cmake/windows
  BINARY_DIR ${PROJECT_BINARY_DIR}/windows
  CMAKE_ARGS -G Ninja -DCMAKE_BUILD_TYPE=Release
             -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
             -DVELOTRAX_SOURCE_DIR=${PROJECT_SOURCE_DIR}
             -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${PROJECT_BINARY_DIR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${VELOTRAX_WINDOWS_DEMO} ${VELOTRAX_WINE_LAUNCHER}
  EXCLUDE_FROM_ALL ON)

list(APPEND VELOTRAX_TEST_DEFINITIONS VELOTRAX_WINDOWS_DEMO="${VELOTRAX_WINDOWS_DEMO}")

# The tests that run the Windows demo exist only once the test loops below have run.
function(velotrax_windows_test_dependencies)
  foreach(test wine_test ui_wine_window_test)
    if(TARGET ${test})
      add_dependencies(${test} velotrax-windows)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER CALL velotrax_windows_test_dependencies)
