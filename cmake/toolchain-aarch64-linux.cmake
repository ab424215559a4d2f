# Cross-building for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu. The programs and
# tests run on this machine through qemu-user, which finds the target's C and C++ runtimes
# under /usr/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ARM64_PREFIX aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${ARM64_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ARM64_PREFIX}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${ARM64_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest and GoogleTest's discovery run the cross-built programs through this.
find_program(CONVOLUZIONE_QEMU NAMES qemu-aarch64 qemu-aarch64-static)
if(CONVOLUZIONE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CONVOLUZIONE_QEMU} -L /usr/${ARM64_PREFIX})
endif()
