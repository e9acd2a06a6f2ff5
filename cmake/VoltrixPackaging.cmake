# The Debian packages, made by `cpack -G DEB` in a build folder (see
# scripts/package.sh). Two packages from two install components:
#   voltrix-cli  (component cli) voltrix-cli, zetak-sim, zetak-sample-image, the
#                udev rule and their manual pages, the station's systemd
#                unit and its environment file: all a headless station
#                needs, without Qt, and all a newcomer needs to try it;
#   voltrix      (component gui) the dialog, its desktop entry, icon and manual
#                page; depends on voltrix-cli of the same version;
#   voltrix-line (component line) the line's program, its manual page, its
#                systemd unit and environment file: what the PC that
#                gathers a line's stations into PostgreSQL needs.
# The version is that of project(); the package is native (no Debian
# revision), since the project packages itself.

set(VOLTRIX_PACKAGE_MAINTAINER "Voltrix developers <voltrix@example.org>")
set(VOLTRIX_PACKAGE_SOURCE voltrix)

set(voltrix_components cli)
if(VOLTRIX_GUI)
  list(APPEND voltrix_components gui)
endif()
if(TARGET voltrix-line)
  list(APPEND voltrix_components line)
endif()

# Each package's documents: the licence in Debian's machine-readable form and
# a changelog whose entry is this version. Its date is the configure time, or
# SOURCE_DATE_EPOCH when that is set (reproducible builds).
string(TIMESTAMP VOLTRIX_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/res/package/changelog.in
               ${PROJECT_BINARY_DIR}/package/changelog @ONLY)
find_program(VOLTRIX_GZIP gzip)
if(VOLTRIX_GZIP)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/package/changelog.gz
                     COMMAND ${VOLTRIX_GZIP} -9 -n -k -f ${PROJECT_BINARY_DIR}/package/changelog
                     DEPENDS ${PROJECT_BINARY_DIR}/package/changelog VERBATIM)
  add_custom_target(voltrix_package_changelog ALL
                    DEPENDS ${PROJECT_BINARY_DIR}/package/changelog.gz)
  set(voltrix_changelog ${PROJECT_BINARY_DIR}/package/changelog.gz)
else()
  set(voltrix_changelog ${PROJECT_BINARY_DIR}/package/changelog)
endif()
foreach(component IN LISTS voltrix_components)
  if(component STREQUAL "cli")
    set(package voltrix-cli)
  elseif(component STREQUAL "line")
    set(package voltrix-line)
  else()
    set(package voltrix)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/res/package/copyright ${voltrix_changelog}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VOLTRIX_PACKAGE_SOURCE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Voltrix developers")
set(CPACK_PACKAGE_CONTACT ${VOLTRIX_PACKAGE_MAINTAINER})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${voltrix_components})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${VOLTRIX_PACKAGE_SOURCE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VOLTRIX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The files are staged under DESTDIR with the package's prefix (/usr) as the
# install prefix, whatever the build tree's prefix: the environment file goes
# to its absolute /etc path, and the unit, written at install time, names the
# program by the path it has once the package is installed.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME voltrix-cli)
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "write firmware into a Zetak device from the command line
Voltrix writes a firmware image into a Zetak device over its USB virtual
COM port, reads it back and verifies it.

This package holds voltrix-cli, the command line front end for scripts and
factory lines (one exit status per kind of failure, a summary line or JSON),
zetak-sim, a simulated Zetak device on a pseudo-terminal, and
zetak-sample-image, which writes a sample image for it, for trying it
without hardware or firmware, and a udev rule that gives the user at the
seat access to USB serial ports and keeps ModemManager from probing them.

The service voltrix-station (not enabled) runs a station on a PC of its
own: it flashes every device plugged in and serves a dashboard, with the
options in /etc/default/voltrix-station.")

# The station service (res/systemd): its environment file is a conffile,
# the maintainer scripts make its system user and keep systemd informed;
# they neither enable nor start it.
if(VOLTRIX_SERVICE)
  configure_file(${PROJECT_SOURCE_DIR}/res/package/cli/conffiles.in
                 ${PROJECT_BINARY_DIR}/package/cli/conffiles @ONLY)
  set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA
      ${PROJECT_BINARY_DIR}/package/cli/conffiles
      ${PROJECT_SOURCE_DIR}/res/package/cli/postinst
      ${PROJECT_SOURCE_DIR}/res/package/cli/prerm
      ${PROJECT_SOURCE_DIR}/res/package/cli/postrm)
  set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS adduser)
endif()

set(CPACK_DEBIAN_GUI_PACKAGE_NAME voltrix)
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION electronics)
# The dialog's texts need a CJK font and an Arial-metric one to be readable
# on a bare system, and Qt needs its platform plugins to show a window.
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS
    "voltrix-cli (= ${PROJECT_VERSION}), qt6-qpa-plugins, fonts-wqy-zenhei, fonts-liberation2")
set(CPACK_COMPONENT_GUI_DESCRIPTION
    "operator dialog that writes firmware into a Zetak device
Voltrix writes a firmware image into a Zetak device over its USB virtual
COM port, reads it back and verifies it.

This package holds voltrix, the operator's Qt dialog: one DOWNLOAD button,
a status line and a progress bar, with a desktop entry. The command line
and the udev rule come with voltrix-cli.")

set(CPACK_DEBIAN_LINE_PACKAGE_NAME voltrix-line)
set(CPACK_DEBIAN_LINE_PACKAGE_SECTION net)
set(CPACK_COMPONENT_LINE_DESCRIPTION
    "gathers a line of Voltrix stations into PostgreSQL
Voltrix writes a firmware image into a Zetak device over its USB virtual
COM port, reads it back and verifies it; a station flashes many devices
at once.

This package holds voltrix-line, the service that takes the records and
the live state of a line's stations into a PostgreSQL database, serves a
dashboard of every station and slot, an API, exports of the runs as CSV
and JSON lines and metrics, over HTTP or HTTPS with tokens and roles.
The service voltrix-line (not enabled) reads its options from
/etc/default/voltrix-line.")
if(TARGET voltrix-line)
  configure_file(${PROJECT_SOURCE_DIR}/res/package/line/conffiles.in
                 ${PROJECT_BINARY_DIR}/package/line/conffiles @ONLY)
  set(CPACK_DEBIAN_LINE_PACKAGE_CONTROL_EXTRA
      ${PROJECT_BINARY_DIR}/package/line/conffiles
      ${PROJECT_SOURCE_DIR}/res/package/line/postinst
      ${PROJECT_SOURCE_DIR}/res/package/line/prerm
      ${PROJECT_SOURCE_DIR}/res/package/line/postrm)
  set(CPACK_DEBIAN_LINE_PACKAGE_DEPENDS adduser)
endif()

include(CPack)
