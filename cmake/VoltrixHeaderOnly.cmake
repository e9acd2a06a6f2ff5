# voltrix_header_only(TARGET HEADER FOLDER): an interface library for a
# header-only Debian package (CLI11, nlohmann-json), found by one of its
# headers, HEADER, which lives in FOLDER under the include directory.
# The mingw-w64 compilers do not search /usr/include, and must not: its C
# library headers are Linux's. They get a folder of the build's own that
# holds only that package's headers.
function(voltrix_header_only target header folder)
  string(MAKE_C_IDENTIFIER "VOLTRIX_${target}_INCLUDE" variable)
  find_path(${variable} ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  add_library(${target} INTERFACE)
  if(CMAKE_CROSSCOMPILING)
    set(only ${PROJECT_BINARY_DIR}/${target}-include)
    file(MAKE_DIRECTORY ${only})
    file(CREATE_LINK ${${variable}}/${folder} ${only}/${folder} SYMBOLIC)
    target_include_directories(${target} SYSTEM INTERFACE ${only})
  elseif(NOT ${variable} STREQUAL "/usr/include")
    target_include_directories(${target} SYSTEM INTERFACE ${${variable}})
  endif()
endfunction()
