# Refuses include loops between the files of a folder: x.cpp including y.h
# while y.cpp (or y.h) includes x.h, directly or round more files. Each
# file is one with its header: x.h, x.cpp and x_internal.h are "x". Such a
# loop means two files call each other, and neither can be understood,
# tested or moved without the other.
#
#   cmake -DROOT=<dir> -DFOLDER=<folder> -P include_loops.cmake
# Reads the includes of the folder's *.h and *.cpp files, by the folder's
# name ("folder/y.h") or by a bare name ("y.h", "y_internal.h"), and fails
# naming every include that lies on a loop.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT OR NOT FOLDER)
  message(FATAL_ERROR "usage: cmake -DROOT=<dir> -DFOLDER=<folder> -P include_loops.cmake")
endif()
file(GLOB files RELATIVE ${ROOT}/${FOLDER} ${ROOT}/${FOLDER}/*.h ${ROOT}/${FOLDER}/*.cpp)

# The unit a file belongs to: its name without extension and "_internal".
function(unit_of name out)
  string(REGEX REPLACE "\\.(h|cpp)$" "" u "${name}")
  string(REGEX REPLACE "_internal$" "" u "${u}")
  set(${out} "${u}" PARENT_SCOPE)
endfunction()

set(units "")
foreach(f ${files})
  unit_of(${f} u)
  list(APPEND units ${u})
endforeach()
list(REMOVE_DUPLICATES units)

# Direct edges: uses_<u> the units u includes; each edge remembers the
# first include line that makes it.
foreach(u ${units})
  set(uses_${u} "")
endforeach()
foreach(f ${files})
  unit_of(${f} from)
  file(STRINGS ${ROOT}/${FOLDER}/${f} lines)
  set(n 0)
  foreach(line IN LISTS lines)
    math(EXPR n "${n} + 1")
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"(${FOLDER}/)?([A-Za-z0-9_]+\\.h)\"")
      unit_of(${CMAKE_MATCH_2} to)
      if(NOT to STREQUAL from AND to IN_LIST units AND NOT to IN_LIST uses_${from})
        list(APPEND uses_${from} ${to})
        set(line_${from}_${to} "${FOLDER}/${f}:${n}: ${line}")
      endif()
    endif()
  endforeach()
endforeach()

# reach_<u>: every unit u reaches, grown until nothing changes.
foreach(u ${units})
  set(reach_${u} ${uses_${u}})
endforeach()
set(changed TRUE)
while(changed)
  set(changed FALSE)
  foreach(u ${units})
    foreach(v ${reach_${u}})
      foreach(w ${uses_${v}})
        if(NOT w IN_LIST reach_${u})
          list(APPEND reach_${u} ${w})
          set(changed TRUE)
        endif()
      endforeach()
    endforeach()
  endforeach()
endwhile()

# An edge u -> v lies on a loop when v reaches u again.
set(found "")
foreach(u ${units})
  foreach(v ${uses_${u}})
    if(u IN_LIST reach_${v})
      string(APPEND found "  ${line_${u}_${v}}   (${v} leads back to ${u})\n")
    endif()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "include loops in ${FOLDER}/ (let one side pass values or own what both need):\n${found}")
endif()
message(STATUS "no include loops in ${FOLDER}/")
