# Cross-builds the 32-bit Windows program with mingw-w64; the top-level CMakeLists.txt keeps its
# floating-point arithmetic in SSE2 registers.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(SORVIK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
