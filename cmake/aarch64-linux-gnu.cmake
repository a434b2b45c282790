# Cross build for Linux on aarch64 with Debian's g++-aarch64-linux-gnu:
#   cmake -S . -B build-DIR --toolchain cmake/aarch64-linux-gnu.cmake
# The portable presets use it; pystring is then compiled from its sources.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Debian's multiarch: the target's libraries (libpystring-dev:ARCH for a
# package build) live in /usr/lib/aarch64-linux-gnu beside the host's.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
