# What "cmake --install" puts where, and the Debian packages built from it with CPack
# ("cpack -G DEB", as scripts/package does), one for each use, each file in the install component
# of its package:
#   Pack     movrel-pack: the packager alone, for a host that only packages firmware, with the
#            simulated terminal flasher its rehearsal runs packages on.
#   Window   movrel: the window flasher's template and what a desktop needs to run packaged
#            flashers: the launcher with its desktop entry and icon, and the root drive helper
#            with its polkit action.
#   Console  movrel-console: the statically linked terminal flasher's template.
# Every package has its manual pages and its documents.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(movrel_components Window Console Pack)

# --- Executables ---
foreach(entry IN ITEMS movrel:Window movrel-console:Console movrel-pack:Pack)
  string(REGEX REPLACE ":.*" "" program ${entry})
  string(REGEX REPLACE ".*:" "" component ${entry})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  endif()
endforeach()

# The simulated terminal flasher, which movrel-pack's rehearsal runs packages on: a tool of the
# packager's, not a program of its own.
if(TARGET movrel-console-sim)
  install(TARGETS movrel-console-sim RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/movrel
          COMPONENT Pack)
endif()

# The root helper that a flasher run by the person starts through pkexec: no one runs it by hand.
# The flasher names it by this path, and so does the polkit action that pkexec authorises it by.
# Both flashers start it, so it belongs to neither template: it goes with the desktop parts, on
# the machine where a person runs packaged flashers. A terminal flasher run as root (from a rescue
# system, or with sudo) reaches the drives itself and needs no helper.
if(TARGET movrel-drive-helper)
  install(TARGETS movrel-drive-helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/movrel
          COMPONENT Window)
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
install(FILES ${policy} DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions COMPONENT Window)
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
install(PROGRAMS ${desktop_out}/movrel-launch DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Window)
install(FILES ${desktop_out}/movrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT Window)
install(FILES ${desktop_dir}/movrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT Window)

# --- Manual pages, from their scdoc source, compressed as man-db reads them ---
# Each is named page.section; it is installed in the directory of its section, in the package of
# its program.
find_program(MOVREL_SCDOC scdoc REQUIRED)
set(man_pages)
foreach(entry IN ITEMS movrel.1:Window movrel-launch.1:Window movrel-drive-helper.8:Window
                       movrel-console.1:Console movrel-pack.1:Pack)
  string(REGEX REPLACE ":.*" "" page ${entry})
  string(REGEX REPLACE ".*:" "" component ${entry})
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
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endforeach()
add_custom_target(movrel-man ALL DEPENDS ${man_pages})

# --- Documents: the README, the copyright and the changelog (its first entry is this version) ---
# Each package has its own copy in /usr/share/doc/<package>, as Debian's policy asks of every
# binary package (a package may point there at another's only when it depends on that one).
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
foreach(entry IN ITEMS movrel:Window movrel-console:Console movrel-pack:Pack)
  string(REGEX REPLACE ":.*" "" package ${entry})
  string(REGEX REPLACE ".*:" "" component ${entry})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
                ${CMAKE_BINARY_DIR}/doc/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()
# movrel-console is statically linked on purpose: it runs from a minimal rescue system.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/movrel-console.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME movrel-console
        COMPONENT Console)

# --- The Debian packages, one for each component ---
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME movrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Movrel developers <movrel-devel@example.org>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${movrel_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Each package's Depends: the libraries its own programs link (none for the static flasher), and
# the packages of the components it names in CPACK_COMPONENT_<component>_DEPENDS, at this version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Each description's first line is its package's synopsis.
set(movrel_about
    "Movrel updates the firmware of an optical drive over SCSI/MMC commands. One
self-contained executable carries its own firmware package: it finds the
machine's optical drives, decides from the package which ones may be updated,
and updates them, reading back and comparing every image chunk before the drive
programs its flash.")

set(CPACK_DEBIAN_PACK_PACKAGE_NAME movrel-pack)
set(CPACK_DEBIAN_PACK_PACKAGE_SOURCE movrel)
set(CPACK_DEBIAN_PACK_DESCRIPTION
    "firmware packager for the Movrel DVD rewriter flashers
${movrel_about}

This package holds movrel-pack, which writes a firmware package into a copy of
a Movrel flasher template, shows the package of a flasher and checks its banks
against files. The templates are in the packages movrel (a window) and
movrel-console (a statically linked terminal program).")
set(CPACK_DEBIAN_PACK_PACKAGE_SUGGESTS "movrel, movrel-console")

# The launcher checks a flasher with the movrel-pack installed beside it.
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME movrel)
set(CPACK_COMPONENT_WINDOW_DEPENDS Pack)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
    "firmware update utility for DVD rewriters (window flasher)
${movrel_about}

This package holds the window flasher's template, movrel, and what a desktop
needs to run packaged flashers: movrel-launch, which checks a packaged flasher
and runs it from the desktop, with its desktop entry, and movrel-drive-helper,
the small root helper through which a flasher run by a person (a window one or
a terminal one) reaches the drives after pkexec has asked for an
administrator's password.")
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS pkexec)
set(CPACK_DEBIAN_WINDOW_PACKAGE_SUGGESTS "zenity | kdialog")

# A static program: nothing to depend on. A terminal flasher run by a person rather than by root
# needs the drive helper of the package movrel.
set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME movrel-console)
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SOURCE movrel)
set(CPACK_DEBIAN_CONSOLE_DESCRIPTION
    "firmware update utility for DVD rewriters (terminal flasher)
${movrel_about}

This package holds the template of movrel-console, a statically linked
terminal flasher that runs from a minimal rescue system as root. Run by a
person instead, it reaches the drives through the drive helper of the package
movrel.")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SUGGESTS "movrel-pack, movrel")
include(CPack)
