# Cross-compiles for 64-bit Windows with the distribution's MinGW-w64 toolchain
# (Debian: g++-mingw-w64-x86-64). Used for the Windows configuration of the whole project
# (`make test-windows`: cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
# and for the Windows build of the demo emulator and the Wine launcher (cmake/windows/).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELOTRAX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
