# libsndfile (sound files: WAV, FLAC, ...) and libsamplerate (sample-rate
# conversion), Debian's packages found through pkg-config. Only the measuring
# module's file source links them (analysis/).
# The web build compiles them from source instead (cmake/web_libs.cmake).
if(EMSCRIPTEN)
  return()
endif()
find_package(PkgConfig REQUIRED)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(SAMPLERATE REQUIRED IMPORTED_TARGET samplerate)
