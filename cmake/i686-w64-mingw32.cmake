# Cross build for Windows with Debian's MinGW-w64 (i686, win32 threads):
#   cmake -S . -B build-DIR --toolchain cmake/i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
