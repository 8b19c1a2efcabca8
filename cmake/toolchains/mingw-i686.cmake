set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
