# Checks that the folders under src/ depend on each other one way only.
#
#   cmake -DSRC=<source root>/src -P tools/check_layers.cmake
#
# Each folder is a layer with a rank; a file may include headers of its own
# folder and of folders of a strictly lower rank. Folders of equal rank
# (lines and location) stay independent of each other, and nothing outside
# app includes app. A folder missing from the table fails the check too, so a
# new folder has to be given its place before it is used.
#
# Every wrong include is listed ("file: #include "..."") before the script
# fails, so one run shows all of them.

set(layer_base 0)
set(layer_dwarf 1)
set(layer_elf 2)
set(layer_location 3)
set(layer_lines 3)
set(layer_symbols 4)
set(layer_app 5)

if(NOT DEFINED SRC OR NOT IS_DIRECTORY "${SRC}")
  message(FATAL_ERROR "check_layers: pass the source folder as -DSRC=<dir> (got '${SRC}')")
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${SRC}" "${SRC}/*")
list(SORT files)

set(problems 0)
foreach(file IN LISTS files)
  if(NOT file MATCHES "^([^/]+)/")
    message(NOTICE "${file}: not inside a layer folder")
    math(EXPR problems "${problems} + 1")
    continue()
  endif()
  set(own "${CMAKE_MATCH_1}")
  if(NOT DEFINED layer_${own})
    message(NOTICE "${file}: folder '${own}' has no place in the layer order")
    math(EXPR problems "${problems} + 1")
    continue()
  endif()

  file(STRINGS "${SRC}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
  foreach(line IN LISTS includes)
    string(REGEX MATCH "\"([^\"/]+)/[^\"]*\"" quoted "${line}")
    set(target "${CMAKE_MATCH_1}")
    if(target STREQUAL own)
      continue()
    endif()
    if(NOT DEFINED layer_${target})
      message(NOTICE "${file}: #include ${quoted} names folder '${target}', which has no place in the layer order")
      math(EXPR problems "${problems} + 1")
    elseif(NOT layer_${target} LESS layer_${own})
      message(NOTICE "${file}: #include ${quoted} points from ${own} to ${target}, which is not below it")
      math(EXPR problems "${problems} + 1")
    endif()
  endforeach()
endforeach()

if(problems GREATER 0)
  message(FATAL_ERROR "check_layers: ${problems} file(s) or include(s) break the layer order "
                      "base < dwarf < elf < location, lines < symbols < app")
endif()
list(LENGTH files count)
message(STATUS "check_layers: ${count} files, every include points down")
