# Finds the pystring library and defines the imported target pystring::pystring.
#
# Debian's libpystring-dev ships a header and a shared library but no CMake
# or pkg-config file. When PYSTRING_SOURCE_DIR names an unpacked pystring
# release, the library is compiled from it instead. Cross builds and portable
# builds (HWID_PORTABLE) do that always: without PYSTRING_SOURCE_DIR they
# unpack the release of Debian's source package into the build folder first
# (scripts/fetch-pystring-source.sh). A cross build for a Debian package
# (HWID_SYSTEM_PYSTRING) links the target's multiarch library instead, as
# the package will at run time.

if((HWID_PORTABLE OR (CMAKE_CROSSCOMPILING AND NOT HWID_SYSTEM_PYSTRING))
   AND NOT PYSTRING_SOURCE_DIR)
  set(_pystring_work "${CMAKE_BINARY_DIR}/pystring-source")
  message(STATUS "Fetching the pystring sources into ${_pystring_work}")
  execute_process(
    COMMAND sh "${CMAKE_CURRENT_LIST_DIR}/../scripts/fetch-pystring-source.sh"
            "${_pystring_work}"
    OUTPUT_VARIABLE _pystring_out
    RESULT_VARIABLE _pystring_result
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT _pystring_result EQUAL 0)
    message(FATAL_ERROR "Could not obtain the pystring sources; pass "
                        "-DPYSTRING_SOURCE_DIR=<unpacked pystring release>")
  endif()
  string(REGEX REPLACE ".*\n" "" _pystring_dir "${_pystring_out}")
  set(PYSTRING_SOURCE_DIR "${_pystring_dir}" CACHE PATH
      "Unpacked pystring release to compile instead of a system library")
endif()

if(PYSTRING_SOURCE_DIR)
  if(NOT EXISTS "${PYSTRING_SOURCE_DIR}/pystring.cpp")
    message(FATAL_ERROR "PYSTRING_SOURCE_DIR=${PYSTRING_SOURCE_DIR} holds no pystring.cpp")
  endif()
  add_library(pystring_static STATIC "${PYSTRING_SOURCE_DIR}/pystring.cpp")
  # Third-party code: our warning flags are not its contract (-w silences
  # them whatever their order), the hardening flags are. The paths of the
  # build and of the unpacked release must not reach a binary either.
  target_compile_options(pystring_static PRIVATE -w
    "-ffile-prefix-map=${CMAKE_BINARY_DIR}/=" "-ffile-prefix-map=${PYSTRING_SOURCE_DIR}/=pystring/")
  set(_pystring_include "${CMAKE_CURRENT_BINARY_DIR}/pystring-include")
  file(MAKE_DIRECTORY "${_pystring_include}/pystring")
  configure_file("${PYSTRING_SOURCE_DIR}/pystring.h"
                 "${_pystring_include}/pystring/pystring.h" COPYONLY)
  target_include_directories(pystring_static SYSTEM INTERFACE "${_pystring_include}")
  add_library(pystring::pystring ALIAS pystring_static)
  set(Pystring_FOUND TRUE)
  return()
endif()

find_path(Pystring_INCLUDE_DIR pystring/pystring.h)
find_library(Pystring_LIBRARY pystring)
if(NOT Pystring_INCLUDE_DIR)
  # Debian 13 puts the header at the top of the include tree, Debian 12 in a
  # folder of its own; the sources include <pystring/pystring.h> on both.
  find_path(Pystring_HEADER_DIR pystring.h)
  mark_as_advanced(Pystring_HEADER_DIR)
  if(Pystring_HEADER_DIR)
    set(_pystring_include "${CMAKE_CURRENT_BINARY_DIR}/pystring-include")
    file(MAKE_DIRECTORY "${_pystring_include}/pystring")
    configure_file("${Pystring_HEADER_DIR}/pystring.h"
                   "${_pystring_include}/pystring/pystring.h" COPYONLY)
    set(Pystring_INCLUDE_DIR "${_pystring_include}")
  endif()
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Pystring
  REQUIRED_VARS Pystring_LIBRARY Pystring_INCLUDE_DIR)

if(Pystring_FOUND AND NOT TARGET pystring::pystring)
  add_library(pystring::pystring UNKNOWN IMPORTED)
  set_target_properties(pystring::pystring PROPERTIES
    IMPORTED_LOCATION "${Pystring_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${Pystring_INCLUDE_DIR}")
endif()
mark_as_advanced(Pystring_INCLUDE_DIR Pystring_LIBRARY)
