# Cross-building the Windows programs on Linux with Debian's mingw-w64 (64-bit).
# The -posix compilers carry the winpthreads-based thread model, so std::thread works in
# the core and in GoogleTest as it does natively.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program is self-contained (no libstdc++, libgcc or winpthread DLL), so Wine and
# Windows run it from wherever it lies, tests included.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Cross-built tests run through Wine; CTest and GoogleTest's discovery use this.
find_program(CONVOLUZIONE_WINE NAMES wine wine64)
if(CONVOLUZIONE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CONVOLUZIONE_WINE})
endif()
