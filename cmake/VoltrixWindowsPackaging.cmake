# The Windows package, made by `cpack -G ZIP` (and `-G NSIS` where makensis
# is installed) in a Windows build folder: voltrix-<version>-win64 with both
# programs, a quick start (README.txt) and the licence (LICENSE.txt). Each
# .exe links its runtimes statically, so nothing else needs to travel with
# them. Both texts are plain text with CRLF line ends: Notepad is where a
# Windows operator reads them.

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
set(CPACK_PACKAGE_INSTALL_DIRECTORY Voltrix)
set(CPACK_RESOURCE_FILE_LICENSE ${voltrix_windows_texts}/LICENSE.txt)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)

find_program(VOLTRIX_MAKENSIS makensis)
if(VOLTRIX_MAKENSIS)
  set(CPACK_GENERATOR "ZIP;NSIS")
else()
  set(CPACK_GENERATOR ZIP)
endif()
set(CPACK_NSIS_DISPLAY_NAME Voltrix)
set(CPACK_NSIS_PACKAGE_NAME Voltrix)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/res/voltrix.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME voltrix.exe)
set(CPACK_PACKAGE_EXECUTABLES voltrix Voltrix)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
include(CPack)
