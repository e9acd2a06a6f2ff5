# Renders one manual page with groff's warnings on, as man would on a UTF-8
# terminal, and with man-db's own check when MAN is given:
#   cmake -DPAGE=FILE[.gz] -DGROFF=groff [-DMAN=man] [-DGZIP=gzip] -P CheckManPage.cmake
# Fails on any warning. With -DEXPECT_WARNINGS=ON it fails unless a warning
# comes: so the check itself is shown to catch a broken page.

cmake_minimum_required(VERSION 3.25)

# voltrix_render_man_page(PAGE WORK_DIR OUT_WARNINGS): the warnings groff
# (and man) print for PAGE, empty when it renders cleanly.
function(voltrix_render_man_page page work_dir out_warnings)
  set(source ${page})
  if(page MATCHES "\\.gz$")
    if(NOT GZIP)
      message(FATAL_ERROR "${page} is compressed and gzip was not found")
    endif()
    get_filename_component(name ${page} NAME_WE)
    set(source ${work_dir}/${name}.1)
    execute_process(COMMAND ${GZIP} -dc ${page} OUTPUT_FILE ${source} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "cannot decompress ${page}")
    endif()
  endif()
  set(warnings "")
  execute_process(COMMAND ${GROFF} -ww -z -man -Tutf8 ${source}
                  RESULT_VARIABLE rc ERROR_VARIABLE groff_errors)
  if(NOT rc EQUAL 0 OR NOT groff_errors STREQUAL "")
    string(APPEND warnings "groff (exit ${rc}): ${groff_errors}")
  endif()
  if(MAN)
    # What lintian runs: man's own pipeline (preprocessors included).
    execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80
                            ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${page}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE man_errors)
    if(NOT rc EQUAL 0 OR NOT man_errors STREQUAL "")
      string(APPEND warnings "man (exit ${rc}): ${man_errors}")
    endif()
  endif()
  set(${out_warnings} "${warnings}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED PAGE)
  if(NOT GROFF OR NOT MAN)
    message(FATAL_ERROR "groff or man not found (scripts/setup.sh installs groff-base and man-db)")
  endif()
  set(work_dir ${CMAKE_CURRENT_BINARY_DIR}/man-check)
  if(DEFINED WORK_DIR)
    set(work_dir ${WORK_DIR})
  endif()
  file(MAKE_DIRECTORY ${work_dir})
  voltrix_render_man_page(${PAGE} ${work_dir} warnings)
  if(EXPECT_WARNINGS)
    if(warnings STREQUAL "")
      message(FATAL_ERROR "${PAGE} is broken, yet rendered without a warning")
    endif()
    message(STATUS "warnings caught as they should be:\n${warnings}")
  elseif(NOT warnings STREQUAL "")
    message(FATAL_ERROR "${PAGE} renders with warnings:\n${warnings}")
  endif()
endif()
