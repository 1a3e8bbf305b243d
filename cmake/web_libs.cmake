# The C libraries of the web build (Emscripten), compiled from Debian's
# source packages that `scripts/setup.sh web` fetches and unpacks: zlib,
# libsamplerate and libsndfile (without external codecs). Emscripten's own
# ports would have to be downloaded, which its frozen cache forbids. They
# stand in for the native build's ZLIB::ZLIB and PkgConfig targets, so the
# layers link them by the same names.
if(NOT EMSCRIPTEN)
  return()
endif()

set(TARVIK2_WEB_SOURCES "/var/cache/tarvik2" CACHE PATH
    "Folder holding the unpacked zlib, libsamplerate and libsndfile source packages")
foreach(pkg zlib/src/zlib.h libsamplerate/src/src/samplerate.c libsndfile/src/src/sndfile.c)
  if(NOT EXISTS "${TARVIK2_WEB_SOURCES}/${pkg}")
    string(REGEX REPLACE "/.*" "" name "${pkg}")
    message(FATAL_ERROR "${name} source not found in ${TARVIK2_WEB_SOURCES}/${name}/src. "
                        "Run 'bash scripts/setup.sh web' to fetch Debian's source packages.")
  endif()
endforeach()

# zlib: its library sources only (its own CMake file would rename a header
# in the source folder).
set(ZSRC "${TARVIK2_WEB_SOURCES}/zlib/src")
add_library(tarvik2_web_zlib STATIC
  ${ZSRC}/adler32.c ${ZSRC}/compress.c ${ZSRC}/crc32.c ${ZSRC}/deflate.c ${ZSRC}/infback.c
  ${ZSRC}/inffast.c ${ZSRC}/inflate.c ${ZSRC}/inftrees.c ${ZSRC}/trees.c ${ZSRC}/uncompr.c ${ZSRC}/zutil.c)
target_include_directories(tarvik2_web_zlib SYSTEM PUBLIC "${ZSRC}")
target_compile_options(tarvik2_web_zlib PRIVATE -w)
add_library(ZLIB::ZLIB ALIAS tarvik2_web_zlib)

# libsamplerate and libsndfile through their own CMake files, without their
# programs, examples, tests and external codec libraries.
set(BUILD_TESTING OFF CACHE BOOL "" FORCE)
set(LIBSAMPLERATE_EXAMPLES OFF CACHE BOOL "" FORCE)
set(LIBSAMPLERATE_INSTALL OFF CACHE BOOL "" FORCE)
set(BUILD_PROGRAMS OFF CACHE BOOL "" FORCE)
set(BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(ENABLE_EXTERNAL_LIBS OFF CACHE BOOL "" FORCE)
set(ENABLE_MPEG OFF CACHE BOOL "" FORCE)
set(ENABLE_CPACK OFF CACHE BOOL "" FORCE)
set(ENABLE_PACKAGE_CONFIG OFF CACHE BOOL "" FORCE)
set(INSTALL_PKGCONFIG_MODULE OFF CACHE BOOL "" FORCE)
set(INSTALL_MANPAGES OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF CACHE BOOL "" FORCE)
add_subdirectory("${TARVIK2_WEB_SOURCES}/libsamplerate/src" "${CMAKE_BINARY_DIR}/third_party/libsamplerate"
                 EXCLUDE_FROM_ALL SYSTEM)
# libsndfile names a generated include folder that a build without its
# programs never makes.
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/third_party/libsndfile/include")
add_subdirectory("${TARVIK2_WEB_SOURCES}/libsndfile/src" "${CMAKE_BINARY_DIR}/third_party/libsndfile"
                 EXCLUDE_FROM_ALL SYSTEM)
target_compile_options(samplerate PRIVATE -w)
target_compile_options(sndfile PRIVATE -w)
add_library(PkgConfig::SAMPLERATE INTERFACE IMPORTED)
target_link_libraries(PkgConfig::SAMPLERATE INTERFACE samplerate)
add_library(PkgConfig::SNDFILE INTERFACE IMPORTED)
target_link_libraries(PkgConfig::SNDFILE INTERFACE sndfile)
