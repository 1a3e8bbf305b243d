# One static library per folder of the instrument code. A library sees the
# public headers of the libraries it links and of its own folder, nothing
# else: each gets an include root of its own that holds links to the
# folder's headers (all but *_internal.h, which only the folder's own
# sources include, by a relative name). An include of a higher folder's
# header therefore fails to compile.
#
#   tarvik2_layer(<target> <folder> [DEPENDS <lower targets and libraries>...])
function(tarvik2_layer target folder)
  cmake_parse_arguments(LAYER "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h)
  list(FILTER headers EXCLUDE REGEX "_internal\\.h$")

  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${root}/${folder})
  # Links of headers that are gone or became internal go away.
  file(GLOB stale LIST_DIRECTORIES false ${root}/${folder}/*)
  foreach(link ${stale})
    get_filename_component(name ${link} NAME)
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${folder}/${name} OR name MATCHES "_internal\\.h$")
      file(REMOVE ${link})
    endif()
  endforeach()
  foreach(header ${headers})
    get_filename_component(name ${header} NAME)
    if(NOT IS_SYMLINK ${root}/${folder}/${name})
      file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
    endif()
  endforeach()

  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${LAYER_DEPENDS})
endfunction()
