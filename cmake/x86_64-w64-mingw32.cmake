# Cross build for Windows with Debian's MinGW-w64 (x86_64, win32 threads):
#   cmake -S . -B build-DIR --toolchain cmake/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
