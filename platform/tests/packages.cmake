# The Debian packages of the tool and the stand-ins for this build's
# architecture. debhelper builds them from their sources, not from these
# trees, in a Debian 11 root of their own (scripts/package.sh), which needs
# root: once per build tree, and again only when the sources change.
# lintian checks them. A native build also installs and purges them with
# piuparts, and runs the tool's installed-package tests (its debian/tests)
# with autopkgtest in a Debian 12 and a Debian 11 root; an i386 build runs
# those tests on a whole 32-bit machine of each release.
if(STANDINS_SANITIZE)
  return()
endif()
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$")
  set(package_architecture i386)
elseif(NOT CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE package_architecture OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT package_architecture MATCHES "^(amd64|i386)$")
  return()
endif()

set(package_dir ${PROJECT_BINARY_DIR}/packages)
# Without root no package is built, and what checks them is skipped too.
set(as_root bash -c [[
  ((EUID == 0)) && exec "$@"
  echo "SKIP: the packages are built as root, in a Debian root of their own"
  exit 77]] as_root)
add_test(NAME package.build
  COMMAND ${as_root} bash ${PROJECT_SOURCE_DIR}/scripts/package.sh --no-lintian --if-changed
          ${package_architecture} ${package_dir} ${tool_source})
set_tests_properties(package.build PROPERTIES
  FIXTURES_SETUP debian_packages SKIP_RETURN_CODE 77 TIMEOUT 1800)
add_test(NAME package.lintian
  COMMAND ${as_root} bash ${PROJECT_SOURCE_DIR}/scripts/package.sh --lintian-only
          ${package_architecture} ${package_dir} ${tool_source})
set_tests_properties(package.lintian PROPERTIES
  FIXTURES_REQUIRED debian_packages SKIP_RETURN_CODE 77 TIMEOUT 600)

if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME package.piuparts
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/piuparts.sh ${package_dir} ${tool_source}
            ${PROJECT_BINARY_DIR}/piuparts)
  set_tests_properties(package.piuparts PROPERTIES
    FIXTURES_REQUIRED debian_packages SKIP_RETURN_CODE 77 TIMEOUT 1800)
  # The tool's debian/tests, run by autopkgtest in a root of each Debian
  # release the packages are for.
  foreach(release bookworm bullseye)
    add_test(NAME package.autopkgtest.${release}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/autopkgtest.sh ${package_dir} ${tool_source}
              ${release} ${PROJECT_BINARY_DIR}/autopkgtest/${release})
    set_tests_properties(package.autopkgtest.${release} PROPERTIES
      FIXTURES_REQUIRED debian_packages SKIP_RETURN_CODE 77 TIMEOUT 900)
  endforeach()
endif()

if(package_architecture STREQUAL i386)
  add_test(NAME package.large_files
    COMMAND ${as_root} bash -c "bash \"$0\" \"$1\"/vidselect_*.deb \"$1\"/vidselect-standins_*.deb"
            ${tool_source}/tests/e2e/large_files.sh ${package_dir})
  set_tests_properties(package.large_files PROPERTIES
    FIXTURES_REQUIRED debian_packages SKIP_RETURN_CODE 77)
  # The 32-bit packages on a whole 32-bit machine of each Debian release
  # they are for, under its own kernel. The first run makes each guest's
  # image, kept in /var/cache/vidselect.
  foreach(release bookworm bullseye)
    add_test(NAME e2e.machine32.${release}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/machine32.sh ${package_dir} ${tool_source} ${release})
    set_tests_properties(e2e.machine32.${release} PROPERTIES
      FIXTURES_REQUIRED debian_packages SKIP_RETURN_CODE 77 TIMEOUT 1800)
  endforeach()
endif()
