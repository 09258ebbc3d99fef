# How every binary of the stand-ins is built.
include_guard(GLOBAL)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# Linked as installed, with no run path, in the build tree too: the role
# library is loaded into a set-user-ID root process, and a run path ending
# in an empty entry would be taken for the current directory.
set(CMAKE_BUILD_WITH_INSTALL_RPATH ON)

add_library(standins_warnings INTERFACE)
target_compile_options(standins_warnings INTERFACE -Wall -Wextra)

# The role library runs inside the set-user-ID tool and the configurator as
# root: the same hardening as the tool's. Fortified calls need optimisation,
# which the sanitizer build gives up.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
add_library(standins_hardening INTERFACE)
target_compile_options(standins_hardening INTERFACE
  -fstack-protector-strong -fstack-clash-protection -fcf-protection)
target_link_options(standins_hardening INTERFACE -Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack)
option(STANDINS_FORTIFY "Build with _FORTIFY_SOURCE=2 (needs optimisation)" ON)
if(STANDINS_FORTIFY)
  target_compile_options(standins_hardening INTERFACE -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
endif()

# 64-bit file offsets and inode numbers on 32-bit x86, where the narrow
# file interfaces fail with EOVERFLOW on many file systems; 64-bit times
# where the C library has them (2.34 and later; older ones ignore it).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_definitions(_FILE_OFFSET_BITS=64 _TIME_BITS=64)
endif()

option(STANDINS_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(STANDINS_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(STANDINS_SANITIZE OR STANDINS_FUZZ)
  set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${sanitizers})
  add_link_options(${sanitizers})
endif()
if(STANDINS_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
