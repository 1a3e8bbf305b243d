# libsndfile (sound files: WAV, FLAC, ...) and libsamplerate (sample-rate
# conversion), Debian's packages found through pkg-config. Only the measuring
# module's file source links them (analysis/).
find_package(PkgConfig REQUIRED)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(SAMPLERATE REQUIRED IMPORTED_TARGET samplerate)
