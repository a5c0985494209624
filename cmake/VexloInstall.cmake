# What `cmake --install` puts where, and so what the packages hold. Keyed on
# target names: a component whose target does not exist in this build (the
# open-source driver without libftdi1, a folder not there yet) is left out.
#
# Linux, under the prefix:
#   bin/                     Vexlo, VexloFPGAUpdate, vexlo-xsvf, vexlo-image, vexlo-emulate
#   lib/vexlo/emulator/      libftd2xx.so of the cartridge emulator
#   lib/vexlo/opendriver/    libftd2xx.so of the open-source driver
#   lib/udev/rules.d/        the cartridge's udev rule
#   share/bash-completion/completions/  the programs' bash completions
#   share/man/man1/          the manual pages
#   share/doc/vexlo/         README.md (without its checkout-only parts), docs/,
#                            LICENSE, copyright, changelog.gz
# Windows (the ZIP's folder):
#   Vexlo.exe, VexloFPGAUpdate.exe, vexlo-xsvf.exe, vexlo-image.exe,
#   emulator/Ftd2xx.dll, emulator/top.xsvf.txt (a sample update),
#   README.txt, LICENSE.txt, doc/*.txt (the manual pages, and
#   docs/EMULATOR.md and docs/WINDOWS.md as EMULATOR.txt, WINDOWS.txt, each
#   written for Windows by cmake/windows-text.cmake)
include(GNUInstallDirs)
# Named after the package, not the project (GNUInstallDirs' DOCDIR).
set(vexlo_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/vexlo)

set(VEXLO_INSTALL_LIBDIR "lib/vexlo" CACHE STRING
    "Private folder (relative to the prefix) for the driver libraries")
set(VEXLO_INSTALL_UDEVRULESDIR "lib/udev/rules.d" CACHE STRING
    "Folder (relative to the prefix) for the udev rule")
set(VEXLO_INSTALL_BASHCOMPLETIONDIR "${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions" CACHE STRING
    "Folder (relative to the prefix) for the bash completions")

# The programs that reach the cartridge, and the helpers beside them.
set(vexlo_cartridge_programs)
foreach(target Vexlo VexloFPGAUpdate)
  if(TARGET ${target})
    list(APPEND vexlo_cartridge_programs ${target})
  endif()
endforeach()
set(vexlo_helper_programs)
if(TARGET vexlo_xsvf)
  list(APPEND vexlo_helper_programs vexlo_xsvf)
endif()
foreach(target vexlo_image vexlo-image)
  if(TARGET ${target})
    list(APPEND vexlo_helper_programs ${target})
  endif()
endforeach()

# Manual pages of what is installed (docs/man/NAME.1).
set(vexlo_man_pages ${vexlo_cartridge_programs})
if(TARGET vexlo_xsvf)
  list(APPEND vexlo_man_pages vexlo-xsvf)
endif()
if(vexlo_helper_programs MATCHES "vexlo[-_]image")
  list(APPEND vexlo_man_pages vexlo-image)
endif()
if(NOT WIN32)
  list(APPEND vexlo_man_pages vexlo-emulate)
endif()

# Named in the texts filled in below and in the package (VexloPackage.cmake).
set(VEXLO_PACKAGE_MAINTAINER "Vexlo PC software authors <vexlo@example.org>" CACHE STRING
    "Maintainer named in the Debian package and its changelog")
set(VEXLO_RELEASE_DATE "Thu, 10 Dec 2026 12:00:00 +0000" CACHE STRING
    "Release date of this version, in the Debian changelog's format")
set(vexlo_text_in ${PROJECT_SOURCE_DIR}/cmake/package)

# configure_file(@ONLY) that stops at a placeholder it has no value for.
include(${CMAKE_CURRENT_LIST_DIR}/placeholders.cmake)
function(vexlo_fill_text in out)
  file(READ ${in} text)
  vexlo_check_placeholders("${text}" "${in}")
  configure_file(${in} ${out} @ONLY)
endfunction()

if(NOT WIN32)
  # Which libftd2xx.so an installed program loads when nothing is set: the
  # open-source driver of this package, when it is in it. The RUNPATH names
  # its folder relative to the program, so the install can be moved;
  # LD_LIBRARY_PATH still comes first, and without that folder the search
  # goes on to the system's libraries (FTDI's driver) as before.
  file(RELATIVE_PATH vexlo_lib_from_bin
       /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${VEXLO_INSTALL_LIBDIR})
  # The build tree's programs carry the same RUNPATH (its folder,
  # <build>/lib/vexlo/opendriver, holds nothing): a build RUNPATH padded for
  # rewriting at install would hold empty entries, which the loader takes
  # for the current folder.
  if(vexlo_cartridge_programs)
    set_target_properties(${vexlo_cartridge_programs} PROPERTIES
      INSTALL_RPATH "\$ORIGIN/${vexlo_lib_from_bin}/opendriver"
      BUILD_WITH_INSTALL_RPATH ON)
  endif()
  if(vexlo_cartridge_programs OR vexlo_helper_programs)
    install(TARGETS ${vexlo_cartridge_programs} ${vexlo_helper_programs}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()

  # Shared libraries are not programs: no execute bits (Debian policy).
  set(vexlo_lib_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  if(TARGET vexlo_emulator)
    install(TARGETS vexlo_emulator
            LIBRARY DESTINATION ${VEXLO_INSTALL_LIBDIR}/emulator PERMISSIONS ${vexlo_lib_permissions})
    set(VEXLO_EMULATOR_FROM_BIN "${vexlo_lib_from_bin}/emulator")
    vexlo_fill_text(${PROJECT_SOURCE_DIR}/tools/linux/vexlo-emulate.in
                    ${PROJECT_BINARY_DIR}/install/vexlo-emulate)
    install(PROGRAMS ${PROJECT_BINARY_DIR}/install/vexlo-emulate DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  if(TARGET vexlo_opendriver)
    install(TARGETS vexlo_opendriver
            LIBRARY DESTINATION ${VEXLO_INSTALL_LIBDIR}/opendriver PERMISSIONS ${vexlo_lib_permissions})
  endif()

  install(FILES ${PROJECT_SOURCE_DIR}/tools/linux/70-vexlo-cartridge.rules
          DESTINATION ${VEXLO_INSTALL_UDEVRULESDIR})

  # Bash completions, one script for every program, under each program's
  # name (the first the file, the others links to it), where bash-completion
  # loads them on first use.
  set(completions ${PROJECT_BINARY_DIR}/install/bash-completion)
  file(REMOVE_RECURSE ${completions})
  set(completion_files)
  foreach(program ${vexlo_man_pages})
    if(NOT completion_files)
      configure_file(${PROJECT_SOURCE_DIR}/tools/linux/vexlo-completion.bash ${completions}/${program} COPYONLY)
      set(completion_target ${program})
    else()
      file(CREATE_LINK ${completion_target} ${completions}/${program} SYMBOLIC)
    endif()
    list(APPEND completion_files ${completions}/${program})
  endforeach()
  install(FILES ${completion_files} DESTINATION ${VEXLO_INSTALL_BASHCOMPLETIONDIR})

  # Manual pages, compressed as man and Debian expect them.
  find_program(VEXLO_GZIP gzip REQUIRED)
  set(gz_pages)
  foreach(page ${vexlo_man_pages})
    set(gz ${PROJECT_BINARY_DIR}/install/man/${page}.1.gz)
    add_custom_command(OUTPUT ${gz}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/install/man
      COMMAND ${VEXLO_GZIP} -9nc ${PROJECT_SOURCE_DIR}/docs/man/${page}.1 > ${gz}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}.1 VERBATIM)
    list(APPEND gz_pages ${gz})
  endforeach()

  # The Debian changelog of the binary package, dated by the version's release.
  set(VEXLO_CHANGELOG ${PROJECT_BINARY_DIR}/install/changelog)
  vexlo_fill_text(${vexlo_text_in}/changelog.in ${VEXLO_CHANGELOG})
  add_custom_command(OUTPUT ${VEXLO_CHANGELOG}.gz
    COMMAND ${VEXLO_GZIP} -9nc ${VEXLO_CHANGELOG} > ${VEXLO_CHANGELOG}.gz
    DEPENDS ${VEXLO_CHANGELOG} VERBATIM)
  # The README for package users: the checkout's, less what only a checkout has.
  set(VEXLO_INSTALLED_README ${PROJECT_BINARY_DIR}/install/README.md)
  add_custom_command(OUTPUT ${VEXLO_INSTALLED_README}
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/README.md -DOUT=${VEXLO_INSTALLED_README}
            -P ${PROJECT_SOURCE_DIR}/cmake/readme-installed.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/readme-installed.cmake VERBATIM)
  add_custom_target(vexlo_install_docs ALL DEPENDS ${gz_pages} ${VEXLO_CHANGELOG}.gz ${VEXLO_INSTALLED_README})
  install(FILES ${gz_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  vexlo_fill_text(${vexlo_text_in}/copyright.in ${PROJECT_BINARY_DIR}/install/copyright)
  install(FILES ${VEXLO_INSTALLED_README} ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_BINARY_DIR}/install/copyright ${VEXLO_CHANGELOG}.gz
          DESTINATION ${vexlo_docdir})
  file(GLOB vexlo_docs ${PROJECT_SOURCE_DIR}/docs/*.md)
  install(FILES ${vexlo_docs} DESTINATION ${vexlo_docdir}/docs)

else()
  # The ZIP: programs at the top, the emulator in a subfolder so that it is
  # never loaded by accident, texts with Windows line ends.
  set(vexlo_programs)
  foreach(target ${vexlo_cartridge_programs} ${vexlo_helper_programs})
    list(APPEND vexlo_programs $<TARGET_FILE:${target}>)
  endforeach()
  # Copied as they are (install(TARGETS) would strip the symbol table that
  # the DLL's calling-convention check reads); debug information is dropped
  # when a package is made.
  if(vexlo_programs)
    install(PROGRAMS ${vexlo_programs} DESTINATION .)
  endif()
  if(TARGET vexlo_emulator)
    install(PROGRAMS $<TARGET_FILE:vexlo_emulator> DESTINATION emulator)
  endif()
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      file(GLOB binaries \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.exe\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/emulator/*.dll\")
      foreach(binary \${binaries})
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\${binary}\" COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()")

  # The texts, written for Windows from the same sources as Linux's
  # (cmake/windows-text.cmake): the manual pages rendered with groff, the
  # emulator's settings and the notes for Windows users, README.txt and the
  # licence, each filled in and with Windows line ends.
  set(vexlo_windows_text ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake)
  function(vexlo_windows_text in out)  # vexlo_windows_text IN OUT [-DNAME=value...]
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DIN=${in} -DOUT=${out} ${ARGN} -P ${vexlo_windows_text}
      DEPENDS ${in} ${vexlo_windows_text} VERBATIM)
  endfunction()
  find_program(VEXLO_GROFF groff)
  set(txt_pages)
  if(VEXLO_GROFF)
    foreach(page ${vexlo_man_pages})
      set(txt ${PROJECT_BINARY_DIR}/install/doc/${page}.txt)
      vexlo_windows_text(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${txt} -DGROFF=${VEXLO_GROFF})
      list(APPEND txt_pages ${txt})
    endforeach()
  else()
    message(WARNING "groff not found (Debian package groff-base): the ZIP will lack the manual pages")
  endif()
  foreach(doc EMULATOR WINDOWS)
    set(txt ${PROJECT_BINARY_DIR}/install/doc/${doc}.txt)
    vexlo_windows_text(${PROJECT_SOURCE_DIR}/docs/${doc}.md ${txt})
    list(APPEND txt_pages ${txt})
  endforeach()
  set(readme ${PROJECT_BINARY_DIR}/install/README.txt)
  set(license ${PROJECT_BINARY_DIR}/install/LICENSE.txt)
  vexlo_windows_text(${vexlo_text_in}/README-windows.txt.in ${readme} -DVERSION=${PROJECT_VERSION})
  vexlo_windows_text(${PROJECT_SOURCE_DIR}/LICENSE ${license})
  # The sample update README.txt builds and plays on the emulator.
  set(sample_xsvf ${PROJECT_BINARY_DIR}/install/top.xsvf.txt)
  vexlo_windows_text(${PROJECT_SOURCE_DIR}/emulator/samples/top.xsvf.txt ${sample_xsvf})
  add_custom_target(vexlo_install_docs ALL DEPENDS ${txt_pages} ${readme} ${license} ${sample_xsvf})
  install(FILES ${readme} ${license} DESTINATION .)
  if(TARGET vexlo_emulator)
    install(FILES ${sample_xsvf} DESTINATION emulator)
  endif()
  if(txt_pages)
    install(FILES ${txt_pages} DESTINATION doc)
  endif()
endif()
