# The Windows packages of a Windows build folder: `cpack` makes the ZIP
# voltrix-<version>-win64.zip with both programs, a quick start (README.txt)
# and the licence (LICENSE.txt); the `installer` target makes the 64-bit
# installer voltrix-<version>-win64.exe from res/windows/voltrix.nsi.in with
# Debian's makensis. Each .exe links its runtimes statically, so nothing else
# needs to travel with them. Both texts are plain text with CRLF line ends:
# Notepad is where a Windows operator reads them.

set(voltrix_windows_texts ${PROJECT_BINARY_DIR}/windows-package)
configure_file(${PROJECT_SOURCE_DIR}/res/windows/README.txt.in ${voltrix_windows_texts}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${voltrix_windows_texts}/LICENSE.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${voltrix_windows_texts}/README.txt ${voltrix_windows_texts}/LICENSE.txt
        DESTINATION . COMPONENT windows)

set(CPACK_PACKAGE_NAME voltrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Voltrix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Writes firmware into a Zetak device over a serial line")
set(CPACK_PACKAGE_FILE_NAME voltrix-${PROJECT_VERSION}-win64)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR ZIP)
include(CPack)

# The installer is our own NSIS script, not CPack's NSIS generator: see the
# head of res/windows/voltrix.nsi.in. It takes the files from a staging
# folder that `cmake --install --strip` fills, as cpack does for the ZIP.
set(VOLTRIX_PUBLISHER "${CPACK_PACKAGE_VENDOR}")
# The "Support link" of the uninstall entry. The project has no web site
# yet: this placeholder (a reserved .example name) is the one place to
# change when it has.
set(VOLTRIX_HELP_LINK "https://voltrix.example/" CACHE STRING
    "Support link the Windows installer writes into the uninstall entry")
set(voltrix_installer_stage ${PROJECT_BINARY_DIR}/windows-installer/stage)
set(voltrix_installer_file ${PROJECT_BINARY_DIR}/voltrix-${PROJECT_VERSION}-win64.exe)
configure_file(${PROJECT_SOURCE_DIR}/res/windows/voltrix.nsi.in
               ${PROJECT_BINARY_DIR}/windows-installer/voltrix.nsi @ONLY)
find_program(VOLTRIX_MAKENSIS makensis)
if(VOLTRIX_MAKENSIS)
  # -WX: a warning of makensis (an unused function, a missing file) stops
  # the build as a compiler warning does.
  add_custom_command(
    OUTPUT ${voltrix_installer_file}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${voltrix_installer_stage}
    COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${voltrix_installer_stage}
            --strip
    COMMAND ${VOLTRIX_MAKENSIS} -V2 -WX -INPUTCHARSET UTF8
            ${PROJECT_BINARY_DIR}/windows-installer/voltrix.nsi
    DEPENDS voltrix voltrix-cli ${PROJECT_BINARY_DIR}/windows-installer/voltrix.nsi
            ${PROJECT_SOURCE_DIR}/res/windows/MachinePath.nsh ${voltrix_windows_texts}/README.txt
            ${voltrix_windows_texts}/LICENSE.txt ${PROJECT_SOURCE_DIR}/res/voltrix.ico
    COMMENT "Making the installer ${voltrix_installer_file}"
    VERBATIM)
  add_custom_target(installer DEPENDS ${voltrix_installer_file})
endif()
