# Shared by the mingw-w64 toolchain files, which set SORVIK_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first. The -posix compilers are used because GoogleTest needs
# std::mutex, which the win32 thread model of GCC 12 does not provide.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${SORVIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SORVIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SORVIK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SORVIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC cannot keep the stack aligned to 32 bytes on 64-bit Windows, yet would spill AVX registers
# of the decoder with aligned moves; the assembler turns every aligned vector move into an
# unaligned one, which costs nothing on an aligned address.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# One self-contained .exe: the C and C++ runtimes and winpthread are linked in, so no DLL beside
# the program is needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Lets ctest run the cross-built programs (the tests and their discovery) under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
