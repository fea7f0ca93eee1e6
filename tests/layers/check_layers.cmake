# Fails when a file under SOURCE_DIR includes a folder its own folder may
# not include, by the dependency table of TABLE (docs/architecture.md): the
# rows after the header line that says "may include", each
# | `folder/` | `other/`, `check.h`, ... |
# A folder may always include itself and the host headers (morvik/). Files
# directly in SOURCE_DIR belong to the row of their header (check.cpp to
# `check.h`). A folder with no row fails too: a new folder takes its place
# in the table first.
#   cmake -DSOURCE_DIR=src -DTABLE=docs/architecture.md -P check_layers.cmake
cmake_minimum_required(VERSION 3.16)

get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)
file(STRINGS "${TABLE}" lines)
set(in_table FALSE)
set(rows "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\\|.*may include")
    set(in_table TRUE)
  elseif(in_table AND line MATCHES "^\\|[-| ]*$")
    # the separator row
  elseif(in_table AND line MATCHES "^\\| *`([^`]+)` *\\|([^|]*)\\|")
    set(row "${CMAKE_MATCH_1}")
    string(REGEX MATCHALL "`[^`]+`" allowed "${CMAKE_MATCH_2}")
    string(REPLACE "`" "" allowed "${allowed}")
    list(APPEND rows "${row}")
    set("may_${row}" "${allowed}")
  elseif(in_table)
    break()
  endif()
endforeach()
if(NOT rows)
  message(FATAL_ERROR "no dependency table (a header row saying \"may include\") in ${TABLE}")
endif()

# The row a path below SOURCE_DIR belongs to: "face/" for face/x.cpp and
# face/y/z.h, "check.h" for check.cpp.
function(row_of relative out)
  if(relative MATCHES "^([^/]+)/")
    set(${out} "${CMAKE_MATCH_1}/" PARENT_SCOPE)
  else()
    get_filename_component(stem "${relative}" NAME_WE)
    set(${out} "${stem}.h" PARENT_SCOPE)
  endif()
endfunction()

set(faults "")
file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
if(NOT sources)
  message(FATAL_ERROR "no sources below ${SOURCE_DIR}")
endif()
foreach(source IN LISTS sources)
  row_of("${source}" own)
  if(NOT own IN_LIST rows)
    list(APPEND faults "${source}: ${own} has no row in the dependency table")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(include IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" target "${include}")
    if(NOT target MATCHES "/" AND NOT EXISTS "${SOURCE_DIR}/${target}")
      continue()  # a header beside the file, by its bare name
    endif()
    row_of("${target}" used)
    if(used STREQUAL own OR used STREQUAL "morvik/")
      continue()
    endif()
    if(NOT EXISTS "${SOURCE_DIR}/${used}")
      continue()  # not one of the library's folders (a system or test path)
    endif()
    if(NOT used IN_LIST "may_${own}")
      list(APPEND faults "${source}: ${own} may not include ${target}")
    endif()
  endforeach()
endforeach()

if(faults)
  string(REPLACE ";" "\n  " faults "${faults}")
  message(FATAL_ERROR "includes against the dependency table of ${TABLE}:\n  ${faults}")
endif()
list(LENGTH sources checked)
message(STATUS "${checked} files follow the dependency table")
