# Cross-compiles for 64-bit Windows with the distribution's MinGW-w64 toolchain
# (Debian: g++-mingw-w64-x86-64). Used for the Windows configuration of the whole project
# (`make test-windows`: cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
# and for the Windows build of the demo emulator and the Wine launcher (cmake/windows/).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELOTRAX_MINGW_PREFIX x86_64-w64-mingw32)
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
