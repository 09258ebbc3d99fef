# Debian packages, made with `cpack -G DEB` in a build tree (run as root,
# so that vidselect is packaged owned by root with mode 4755):
#   vidselect            the tool and its man page
#   vidselect-standins   the stand-ins, for test and demo machines only
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vidselect)
set(CPACK_PACKAGE_VENDOR "ZVK service tools")
set(CPACK_PACKAGE_CONTACT "ZVK service tools <zvk-service-tools@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL vidselect)
if(VIDSELECT_BUILD_STANDINS)
  list(APPEND CPACK_COMPONENTS_ALL standins)
endif()

# Each package carries its own summary, the first line of its description.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The host's architecture is not the package's when cross-building.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()

set(CPACK_DEBIAN_VIDSELECT_PACKAGE_NAME vidselect)
set(CPACK_DEBIAN_VIDSELECT_PACKAGE_DEPENDS "libc6 (>= 2.34)")
set(CPACK_DEBIAN_VIDSELECT_DESCRIPTION
"choose the default graphics driver of the ZVK's X server
vidselect lets Product Engineer and Support personnel list the graphics
drivers the ZVK supports, show the current default and change it; the new
default takes effect when the X server restarts.

Only the service account holding the service role may use it. It runs the
machine's display configurator, and is installed set-user-ID root so that a
change runs as root. It needs the ZVK's role library, libvorn.so.")

set(CPACK_DEBIAN_STANDINS_PACKAGE_NAME vidselect-standins)
set(CPACK_DEBIAN_STANDINS_PACKAGE_DEPENDS "libc6 (>= 2.34)")
set(CPACK_DEBIAN_STANDINS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_STANDINS_DESCRIPTION
"stand-ins for the ZVK's role library and display configurator
For test and demo machines only, never for a ZVK: a libvorn.so that reads
roles from /etc/vorn/roles, and a display configurator at
/opt/qtr/bin/dispconfig that offers the X server driver modules found on the
machine and records the default driver in an xorg.conf.d snippet.")

include(CPack)
