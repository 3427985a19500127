# Cross-compiles for 32-bit Windows with the distribution's MinGW-w64 toolchain
# (Debian: g++-mingw-w64-i686). `make test-windows` builds the engine, velotrax-cli, the demo
# emulator and the test suites with it into build-windows-i686 (see "Building for Windows").
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELOTRAX_MINGW_PREFIX i686-w64-mingw32)
# The "posix" thread model: Debian's default "win32" one has no std::thread or std::mutex.
set(CMAKE_C_COMPILER ${VELOTRAX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELOTRAX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELOTRAX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELOTRAX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Linked statically, a program needs no MinGW library beside it under Wine or on Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
