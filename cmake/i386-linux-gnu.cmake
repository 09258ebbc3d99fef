# Cross-build for the ZVK, 32-bit x86 Linux with glibc, using Debian's cross
# toolchain (crossbuild-essential-i386), the one dpkg-buildpackage -a i386
# uses too. This machine's kernel runs no 32-bit binaries, so anything built
# here that has to run at build or test time goes through qemu-user, which
# finds the 32-bit dynamic loader and C library under the cross prefix.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)

set(VIDSELECT_CROSS_ROOT /usr/i686-linux-gnu CACHE PATH
  "Root of the 32-bit C library the emulator loads binaries against")

find_program(VIDSELECT_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VIDSELECT_QEMU_I386} -L ${VIDSELECT_CROSS_ROOT})
