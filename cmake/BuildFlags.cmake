# How every binary of the tool's project is built.
include_guard(GLOBAL)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# Every binary is linked as installed, with no run path, in the build tree
# too. CMake would give a build-tree binary one into the tree, ending in an
# empty entry (which it adds to every run path it will rewrite on install)
# that the loader takes for the current directory: a copy of the tool made
# set-user-ID would load libraries from wherever its caller stands. Linked
# once, a binary also has the same build ID wherever it was built.
set(CMAKE_BUILD_WITH_INSTALL_RPATH ON)

# Every target takes its warnings from here; CI adds
# CMAKE_COMPILE_WARNING_AS_ERROR through its preset.
add_library(vidselect_warnings INTERFACE)
target_compile_options(vidselect_warnings INTERFACE -Wall -Wextra)

# The hardening every shipped binary gets, the set-user-ID one above all:
# position-independent, stack protector, checked libc calls, relocations
# read-only after start-up (full RELRO with immediate binding), a stack that
# cannot be executed, and stack-clash and control-flow protection where the
# processor has them. Fortified calls need optimisation, so a build without
# it, such as the sanitizer one, turns VIDSELECT_FORTIFY off.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
add_library(vidselect_hardening INTERFACE)
target_compile_options(vidselect_hardening INTERFACE
  -fstack-protector-strong -fstack-clash-protection -fcf-protection)
target_link_options(vidselect_hardening INTERFACE -Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack)
option(VIDSELECT_FORTIFY "Build with _FORTIFY_SOURCE=2 (needs optimisation)" ON)
if(VIDSELECT_FORTIFY)
  target_compile_options(vidselect_hardening INTERFACE -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
endif()

# A 32-bit build takes the C library's 64-bit file offsets and inode
# numbers: the 32-bit file interfaces fail with EOVERFLOW on any file system
# that hands out an inode number or directory offset past 32 bits (XFS with
# 64-bit inodes, overlays, tmpfs, network file systems). It also asks for
# 64-bit times, which only glibc 2.34 and later have; an older C library,
# such as Debian 11's that the packages are built against, ignores the
# request. The tool handles no time value, so 32-bit times cost it
# nothing, and the request never raises the C library it needs.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_definitions(_FILE_OFFSET_BITS=64 _TIME_BITS=64)
endif()

# Sanitizer build: every report is fatal, so that a test sees it.
option(VIDSELECT_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# Fuzzing build (clang): libFuzzer targets over the logic that reads
# untrusted text, with the same sanitizers; the unit and end-to-end tests
# are left to the other builds.
option(VIDSELECT_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(VIDSELECT_SANITIZE OR VIDSELECT_FUZZ)
  set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${sanitizers})
  add_link_options(${sanitizers})
endif()
if(VIDSELECT_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
