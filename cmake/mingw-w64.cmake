# Cross-compiling for 64-bit Windows with Debian's mingw-w64:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake ...
# The programs link libstdc++, libgcc and winpthread statically, so that each
# .exe runs with no DLL beside it; test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VOLTRIX_MINGW_TRIPLET x86_64-w64-mingw32)

# GCC 12's "win32" thread model has no std::thread and no std::mutex; the
# "posix" flavour (on winpthread) has them. Prefer it wherever it exists.
find_program(VOLTRIX_MINGW_CXX NAMES ${VOLTRIX_MINGW_TRIPLET}-g++-posix ${VOLTRIX_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(VOLTRIX_MINGW_CC NAMES ${VOLTRIX_MINGW_TRIPLET}-gcc-posix ${VOLTRIX_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VOLTRIX_MINGW_CXX})
if(VOLTRIX_MINGW_CC)
  set(CMAKE_C_COMPILER ${VOLTRIX_MINGW_CC})
endif()
set(CMAKE_RC_COMPILER ${VOLTRIX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VOLTRIX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes winpthread's archive too, not only the two runtimes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run through Wine, in a prefix of the build folder's own that
# the wrapper makes on first use.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
