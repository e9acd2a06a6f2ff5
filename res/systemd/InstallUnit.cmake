# Run by `cmake --install` (and cpack): writes a service's unit
# (voltrix-station.service, voltrix-line.service) with the paths of this
# installation and installs it. The program's path comes
# from the prefix given at install time, which for a package is /usr
# whatever the build tree was configured with. Set by the caller:
#   voltrix_unit_source  the unit's template, NAME.service.in
#   voltrix_unit_work    a folder of the build tree for the written unit
#   voltrix_unit_dir     where units go, relative to the prefix or absolute
#   voltrix_bindir       where the programs go, relative to the prefix or absolute
#   voltrix_defaults     the environment file's absolute path

block(PROPAGATE CMAKE_INSTALL_MANIFEST_FILES)
function(voltrix_under_prefix path out)
  if(IS_ABSOLUTE "${path}")
    set(${out} "${path}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${path}" PARENT_SCOPE)
  endif()
endfunction()

voltrix_under_prefix("${voltrix_bindir}" bindir)
voltrix_under_prefix("${voltrix_unit_dir}" unit_dir)
set(VOLTRIX_CLI "${bindir}/voltrix-cli")
set(VOLTRIX_LINE "${bindir}/voltrix-line")
set(VOLTRIX_STATION_DEFAULTS "${voltrix_defaults}")
set(VOLTRIX_LINE_DEFAULTS "${voltrix_defaults}")
get_filename_component(unit_name "${voltrix_unit_source}" NAME)
string(REGEX REPLACE "\\.in$" "" unit_name "${unit_name}")
# One file per prefix: a package being made and an install elsewhere may run
# at the same time.
string(MD5 prefix_key "${CMAKE_INSTALL_PREFIX}")
set(unit "${voltrix_unit_work}/${prefix_key}/${unit_name}")
configure_file("${voltrix_unit_source}" "${unit}" @ONLY)
file(INSTALL DESTINATION "${unit_dir}" TYPE FILE FILES "${unit}")
endblock()
