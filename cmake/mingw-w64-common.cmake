# What the 64-bit and 32-bit MinGW-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR and
# VELOTRAX_MINGW_PREFIX (the compilers' triplet) first.
set(CMAKE_SYSTEM_NAME Windows)
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
