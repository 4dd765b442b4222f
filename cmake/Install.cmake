# What "cmake --install" puts where, and the Debian package built from it with CPack
# ("cpack -G DEB", as scripts/package does): the flashers on this machine's drives (templates
# that movrel-pack fills), their root drive helper with its polkit action, movrel-pack, the
# launcher with its desktop entry and icon, the manual pages and the package's documents.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# --- Executables ---
foreach(program IN ITEMS movrel movrel-console movrel-pack)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The root helper that a flasher run by the person starts through pkexec: no one runs it by hand.
# The flasher names it by this path, and so does the polkit action that pkexec authorises it by.
if(TARGET movrel-drive-helper)
  install(TARGETS movrel-drive-helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/movrel)
endif()

# --- The polkit action for the drive helper ---
# pkexec picks the action whose org.freedesktop.policykit.exec.path annotation is the program it
# runs, so the action names the helper by its installed path. The file is checked against the DTD
# that polkitd installs (well-formedness alone where it is missing): polkitd skips an action file
# it cannot parse, and pkexec then asks under its generic action instead.
set(MOVREL_DRIVE_HELPER ${CMAKE_INSTALL_FULL_LIBEXECDIR}/movrel/movrel-drive-helper)
set(policy ${CMAKE_BINARY_DIR}/polkit/org.movrel.drive-helper.policy)
configure_file(${PROJECT_SOURCE_DIR}/data/polkit/org.movrel.drive-helper.policy.in ${policy}
               @ONLY)
install(FILES ${policy} DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
find_program(MOVREL_XMLLINT xmllint REQUIRED)
find_file(MOVREL_POLKIT_DTD policyconfig-1.dtd PATHS /usr/share/polkit-1 NO_DEFAULT_PATH)
set(policy_check --noout)
if(MOVREL_POLKIT_DTD)
  list(APPEND policy_check --dtdvalid ${MOVREL_POLKIT_DTD})
endif()
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/polkit/checked
  COMMAND ${MOVREL_XMLLINT} ${policy_check} ${policy}
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/polkit/checked
  DEPENDS ${policy}
  COMMENT "Checking the polkit action org.movrel.drive-helper"
  VERBATIM)
add_custom_target(movrel-policy ALL DEPENDS ${CMAKE_BINARY_DIR}/polkit/checked)

# --- Desktop integration: launcher, entry, icon ---
# The entry and the launcher itself name the launcher by its installed path; the launcher checks
# flashers with the movrel-pack installed beside it.
set(MOVREL_LAUNCH ${CMAKE_INSTALL_FULL_BINDIR}/movrel-launch)
set(desktop_dir ${PROJECT_SOURCE_DIR}/data/desktop)
set(desktop_out ${CMAKE_BINARY_DIR}/desktop)
configure_file(${desktop_dir}/movrel-launch.in ${desktop_out}/movrel-launch @ONLY)
configure_file(${desktop_dir}/movrel.desktop.in ${desktop_out}/movrel.desktop @ONLY)
install(PROGRAMS ${desktop_out}/movrel-launch DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${desktop_out}/movrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop_dir}/movrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# --- Manual pages, from their scdoc source, compressed as man-db reads them ---
# Each is named page.section; it is installed in the directory of its section.
find_program(MOVREL_SCDOC scdoc REQUIRED)
set(man_pages)
foreach(page IN ITEMS movrel.1 movrel-console.1 movrel-launch.1 movrel-pack.1
                      movrel-drive-helper.8)
  string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${page})
  set(source ${PROJECT_SOURCE_DIR}/man/${page}.scd)
  set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(
    OUTPUT ${output}
    COMMAND sh -c "'${MOVREL_SCDOC}' < '${source}' | gzip -9n > '${output}'"
    DEPENDS ${source}
    COMMENT "Manual page ${page}"
    VERBATIM)
  list(APPEND man_pages ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(movrel-man ALL DEPENDS ${man_pages})

# --- Documents: the README, the copyright and the changelog (its first entry is this version) ---
set(changelog ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
file(STRINGS ${changelog} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^movrel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog does not begin with version ${PROJECT_VERSION}")
endif()
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND sh -c "gzip -9n < '${changelog}' > '${CMAKE_BINARY_DIR}/doc/changelog.gz'"
  DEPENDS ${changelog}
  VERBATIM)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/doc ${CMAKE_BINARY_DIR}/man)
add_custom_target(movrel-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
              ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/movrel)
# movrel-console is statically linked on purpose: it runs from a minimal rescue system.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME movrel)

# --- The Debian package ---
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME movrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Movrel developers <movrel-devel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update utility for DVD rewriters")
set(CPACK_PACKAGE_DESCRIPTION
    "Movrel updates the firmware of an optical drive over SCSI/MMC commands. One
self-contained executable carries its own firmware package: it finds the
machine's optical drives, decides from the package which ones may be updated,
and updates them, reading back and comparing every image chunk before the drive
programs its flash.

This package holds the flashers as templates (movrel, a window, and
movrel-console, a statically linked terminal program), movrel-drive-helper,
the small root helper through which a flasher run by a person reaches the
drives after pkexec has asked for an administrator's password, movrel-pack,
which writes a firmware package into a copy of a template, and movrel-launch,
which checks a packaged flasher and runs it from the desktop.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pkexec)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "zenity | kdialog")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
