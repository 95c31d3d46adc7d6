# `cpack -G DEB` in a build folder: kvarnixmonitor_<version>_<arch>.deb of everything the
# install rules put in place, under /usr, with the system account and the shared data folder
# made by its maintainer scripts. Programs without an install rule (the calculation
# simulator, the demo builder, the tests) stay out of it.

include(GNUInstallDirs)

set(KVARNIX_PACKAGE_MAINTAINER "KvarnixMonitor <kvarnixmonitor@kvarnix.invalid>" CACHE STRING
  "The package's Maintainer field")

set(KVARNIX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kvarnixmonitor)
set(KVARNIX_PACKAGE_WORK_DIR ${CMAKE_BINARY_DIR}/packaging)

# Debian wants the changelog and the manual pages compressed, byte for byte the same from one
# build to the next.
function(kvarnix_gzip source destination)
  set(compressed ${KVARNIX_PACKAGE_WORK_DIR}/${destination})
  add_custom_command(OUTPUT ${compressed}
    COMMAND gzip -9n --stdout ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  set_property(GLOBAL APPEND PROPERTY KVARNIX_COMPRESSED ${compressed})
endfunction()

configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/changelog.in
               ${KVARNIX_PACKAGE_WORK_DIR}/changelog @ONLY)
file(MAKE_DIRECTORY ${KVARNIX_PACKAGE_WORK_DIR}/man)
kvarnix_gzip(${KVARNIX_PACKAGE_WORK_DIR}/changelog changelog.gz)
kvarnix_gzip(${PROJECT_SOURCE_DIR}/docs/man/kvarnixmonitor.1 man/kvarnixmonitor.1.gz)
kvarnix_gzip(${PROJECT_SOURCE_DIR}/docs/man/kvarnixmonitord.8 man/kvarnixmonitord.8.gz)
kvarnix_gzip(${PROJECT_SOURCE_DIR}/docs/man/kvarnixrun.8 man/kvarnixrun.8.gz)
get_property(compressed GLOBAL PROPERTY KVARNIX_COMPRESSED)
add_custom_target(kvarnix_compressed_docs ALL DEPENDS ${compressed})

install(FILES ${KVARNIX_PACKAGE_WORK_DIR}/man/kvarnixmonitor.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KVARNIX_PACKAGE_WORK_DIR}/man/kvarnixmonitord.8.gz
              ${KVARNIX_PACKAGE_WORK_DIR}/man/kvarnixrun.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${KVARNIX_PACKAGE_WORK_DIR}/changelog.gz packaging/deb/copyright
              src/gui/resources/hjalp.html
        DESTINATION ${KVARNIX_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvarnixmonitor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The install scripts write the installed paths into the menu entry and the units: they must
# see /usr as the prefix, with the package's folder as DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${KVARNIX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KVARNIX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window loads the Swedish texts of Qt's own dialogs at start.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "scheduler for Kvarnix calculations")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "KvarnixMonitor keeps a schedule of Kvarnix calculation jobs and starts\n"
  "each one as a process of the calculation program when its start time\n"
  "comes. The package holds the window program, the service kvarnixmonitord\n"
  "that runs the same schedule without a window, and its systemd units. The\n"
  "schedule is shared in /var/lib/kvarnixmonitor by the members of the\n"
  "group kvarnix.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/deb/postinst ${PROJECT_SOURCE_DIR}/packaging/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
