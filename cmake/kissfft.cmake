# KISS FFT, fixed-point build with 32-bit samples (31 fraction bits), compiled
# as a static library inside the build tree from Debian's kissfft source
# package, which scripts/setup.d/kissfft.sh fetches and unpacks.
set(KISSFFT_SOURCE_DIR "/var/cache/tarvik2/kissfft/src" CACHE PATH
    "Unpacked source of Debian's kissfft package")
if(NOT EXISTS "${KISSFFT_SOURCE_DIR}/kiss_fft.c" OR NOT EXISTS "${KISSFFT_SOURCE_DIR}/kiss_fft.h")
  message(FATAL_ERROR
    "KISS FFT source not found in ${KISSFFT_SOURCE_DIR} (kiss_fft.c, kiss_fft.h). "
    "Run 'bash scripts/setup.sh' (or scripts/setup.d/kissfft.sh) to fetch Debian's "
    "kissfft source package, or set KISSFFT_SOURCE_DIR to an unpacked copy.")
endif()

add_library(tarvik2_kissfft STATIC "${KISSFFT_SOURCE_DIR}/kiss_fft.c")
target_include_directories(tarvik2_kissfft SYSTEM PUBLIC "${KISSFFT_SOURCE_DIR}")
target_compile_definitions(tarvik2_kissfft PUBLIC FIXED_POINT=32)
target_compile_options(tarvik2_kissfft PRIVATE -w)
set_target_properties(tarvik2_kissfft PROPERTIES POSITION_INDEPENDENT_CODE ON)
