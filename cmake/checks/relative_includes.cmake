# Refuses includes that climb out of their folder ("../x/y.h"): such an
# include finds a header of any folder by the including file's own place,
# round the include roots that keep each library to the folders below it.
#
#   cmake -DROOT=<dir> -DFOLDERS="a;b;c" [-DSKIP=<folder>] -P relative_includes.cmake
# Scans the *.h and *.cpp files in each folder below ROOT (and its
# subfolders, but not SKIP) and fails naming every file and line that
# includes by a path with "..".
if(NOT ROOT OR NOT FOLDERS)
  message(FATAL_ERROR "usage: cmake -DROOT=<dir> -DFOLDERS=<list> -P relative_includes.cmake")
endif()
set(found "")
foreach(folder ${FOLDERS})
  file(GLOB_RECURSE files ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  if(SKIP)
    list(FILTER files EXCLUDE REGEX "^${ROOT}/${SKIP}/")
  endif()
  foreach(f ${files})
    file(STRINGS ${f} lines)
    set(n 0)
    foreach(line IN LISTS lines)
      math(EXPR n "${n} + 1")
      if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*\\.\\.[/\\\\]")
        file(RELATIVE_PATH rel ${ROOT} ${f})
        string(APPEND found "  ${rel}:${n}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "includes that climb out of their folder (name the header by its folder instead):\n${found}")
endif()
message(STATUS "no relative includes in ${FOLDERS}")
