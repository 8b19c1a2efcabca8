set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
