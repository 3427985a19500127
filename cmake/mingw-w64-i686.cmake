# Cross-compiles for 32-bit Windows with the distribution's MinGW-w64 toolchain
# (Debian: g++-mingw-w64-i686). `make test-windows` builds the engine, velotrax-cli, the demo
# emulator and the test suites with it into build-windows-i686 (see "Building for Windows").
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELOTRAX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
