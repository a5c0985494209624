# The packages, made by CPack from the install rules (cmake/VexloInstall.cmake):
#   Linux:   cpack -G DEB             vexlo_<version>_<arch>.deb
#   Windows: cpack -G ZIP             vexlo-<version>-win32.zip / -win64.zip (cross builds)
#   any:     --target package_source  vexlo-<version>.tar.gz
# tools/package makes all of them into one folder.

set(CPACK_PACKAGE_NAME vexlo)
set(CPACK_PACKAGE_VENDOR "the Vexlo PC software authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PC software for the Vexlo cartridge of Atari 68k computers")
set(CPACK_PACKAGE_DESCRIPTION
"Console programs for the Vexlo development cartridge of Atari 68k computers,
which a PC drives over USB through an FTDI chip.
Vexlo uploads the cartridge's 68k firmware, an Atari program (optionally
after the Bugaboo debugger) and data, and serves an Atari hard-disk image
to the cartridge's sector requests. VexloFPGAUpdate rewrites the FPGA
configuration from an XSVF file; vexlo-xsvf lists XSVF files as text.
A cartridge emulator lets the programs run without a cartridge
(vexlo-emulate). The udev rule gives users access to the cartridge.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME vexlo-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VEXLO_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # libc, libstdc++ and, with the open-source driver, libftdi1: from the binaries.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The udev rule takes effect at once, also for a cartridge already plugged in.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/cmake/package/postinst ${PROJECT_SOURCE_DIR}/cmake/package/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

# The source archive: the checkout without builds and version control
# (what .gitignore leaves out), matched below the source folder only.
# Backslashes doubled: CPack reads these back from its generated config.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME vexlo-${PROJECT_VERSION})
string(REGEX REPLACE "([][+.*()^$?|\\])" "\\\\\\\\\\1" vexlo_source_re "${PROJECT_SOURCE_DIR}")
set(CPACK_SOURCE_IGNORE_FILES
    "^${vexlo_source_re}/\\\\.git(/|$)" "^${vexlo_source_re}/build[^/]*/"
    "^${vexlo_source_re}/out[^/]*/" "/vexlo-emulator-out/" "\\\\.swp$" "~$")

include(CPack)
