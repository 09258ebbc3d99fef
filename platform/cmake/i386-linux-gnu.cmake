# Cross-build for the ZVK, 32-bit x86 Linux with glibc, with Debian's cross
# toolchain (crossbuild-essential-i386) and the 32-bit libraries under its
# prefix. Where the kernel runs no 32-bit programs, the tests run under
# qemu-user (cmake/CrossTesting.cmake).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

set(STANDINS_CROSS_EMULATOR qemu-i386)
set(STANDINS_CROSS_ROOT /usr/i686-linux-gnu CACHE PATH
  "Root of the 32-bit C library the emulator loads binaries against")
