set(MARVIK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# The i686 build: its tests run under 32-bit Wine (tools/wine-run32).
