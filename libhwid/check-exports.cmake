# Fails unless the built library exports exactly the functions hwid.h
# declares, hwid.map and hwid.def list the same names, and (ELF) its SONAME
# is the expected one. A function added to one file and not the others is
# caught at build time.
#   cmake -DLIBRARY=FILE -DTOOLS="NM;READELF" | -DTOOLS=OBJDUMP
#         -DSONAME=libhwid.so.N -DSOURCE_DIR=DIR -P check-exports.cmake

function(names_in file regex out)
  file(STRINGS "${file}" lines REGEX "${regex}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "${regex}" match "${line}")
    list(APPEND names "${CMAKE_MATCH_1}")
  endforeach()
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

function(expect_same what names wanted)
  if(NOT names STREQUAL wanted)
    message(FATAL_ERROR "${what}: ${names}\nhwid.h declares: ${wanted}")
  endif()
endfunction()

function(run out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: exit status ${status}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

names_in("${SOURCE_DIR}/hwid.h" "^HWID_API [^(]*[ *](hwid_[a-z_]+)\\(" declared)
names_in("${SOURCE_DIR}/hwid.map" "^    (hwid_[a-z_]+);$" mapped)
names_in("${SOURCE_DIR}/hwid.def" "^    (hwid_[a-z_]+)$" defined)
expect_same("hwid.map exports" "${mapped}" "${declared}")
expect_same("hwid.def exports" "${defined}" "${declared}")

list(LENGTH TOOLS tool_count)
set(exported "")
if(tool_count EQUAL 1)  # PE: the DLL's export table
  run(dump "${TOOLS}" -p "${LIBRARY}")
  # The names are the rows "[   N] NAME" of the name table, up to a blank line.
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${dump}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${table}")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${row}")
    list(APPEND exported "${name}")
  endforeach()
else()  # ELF: every defined dynamic symbol, data and functions alike
  list(GET TOOLS 0 nm)
  list(GET TOOLS 1 readelf)
  run(dump "${nm}" -D --defined-only --format=posix "${LIBRARY}")
  string(REGEX MATCHALL "[^\n]+" rows "${dump}")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE " .*" "" name "${row}")
    list(APPEND exported "${name}")
  endforeach()
  run(dynamic "${readelf}" -d "${LIBRARY}")
  if(NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[${SONAME}\\]")
    message(FATAL_ERROR "${LIBRARY} has no SONAME ${SONAME}:\n${dynamic}")
  endif()
endif()
list(SORT exported)
expect_same("${LIBRARY} exports" "${exported}" "${declared}")
