# What both MinGW-w64 toolchains share; the toolchain file of each target sets
# CMAKE_SYSTEM_PROCESSOR and its C compiler (which scripts/check-provider-package.sh
# reads from it) and includes this file.
set(CMAKE_SYSTEM_NAME Windows)
set(vz_mingw_triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_CXX_COMPILER ${vz_mingw_triple}-g++-win32)
set(CMAKE_RC_COMPILER ${vz_mingw_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${vz_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
