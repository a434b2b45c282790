# Shared part of the MinGW-w64 toolchain files: set CMAKE_SYSTEM_PROCESSOR
# (i686 or x86_64) first, then include this file. Debian's MinGW-w64 with
# win32 threads.
set(CMAKE_SYSTEM_NAME Windows)
set(_hwid_mingw_triple "${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32")

set(CMAKE_C_COMPILER ${_hwid_mingw_triple}-gcc)
set(CMAKE_CXX_COMPILER ${_hwid_mingw_triple}-g++)
set(CMAKE_RC_COMPILER ${_hwid_mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_hwid_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Stack canaries and checked copies, as a Linux distribution builds its
# programs (the checks need optimisation, which Release has).
set(CMAKE_C_FLAGS_INIT "-fstack-protector-strong -D_FORTIFY_SOURCE=2")
set(CMAKE_CXX_FLAGS_INIT "-fstack-protector-strong -D_FORTIFY_SOURCE=2")

# The programs must run on a bare Windows (and under Wine) without MinGW's
# runtime DLLs beside them, libssp-0.dll included. The linker would stamp the
# time of the link into the PE header, and a release must come out the same
# when rebuilt later.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
