# Cross-build for the ZVK, 32-bit x86 Linux with glibc, using Debian's cross
# toolchain (crossbuild-essential-i386), the one dpkg-buildpackage -a i386
# uses too. It links against the 32-bit C and C++ libraries under the cross
# prefix, packages of the build machine's own architecture. A 64-bit x86
# kernel with IA32 emulation runs what is built here as it is, with the
# 32-bit loader and libraries of the machine's biarch packages (libc6-i386,
# lib32stdc++6, in /usr/lib32); where the kernel runs no 32-bit programs,
# the tests run it under qemu-user, which finds the loader and libraries
# under the cross prefix instead (cmake/CrossTesting.cmake decides which).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)

set(VIDSELECT_CROSS_EMULATOR qemu-i386)
set(VIDSELECT_CROSS_ROOT /usr/i686-linux-gnu CACHE PATH
  "Root of the 32-bit C library the emulator loads binaries against")

# Libraries are found in the cross prefix alone: never the build machine's
# own, such as a 64-bit libvorn.so installed there.
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
