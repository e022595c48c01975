set(MARVIK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# No 32-bit Wine here: the i686 build is compiled and linked, never run.
