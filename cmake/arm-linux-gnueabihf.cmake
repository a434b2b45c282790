# Cross build for Linux on arm with Debian's g++-arm-linux-gnueabihf:
#   cmake -S . -B build-DIR --toolchain cmake/arm-linux-gnueabihf.cmake
# The portable presets use it; pystring is then compiled from its sources.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Debian's multiarch: the target's libraries (libpystring-dev:ARCH for a
# package build) live in /usr/lib/arm-linux-gnueabihf beside the host's.
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
