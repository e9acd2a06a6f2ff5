#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64: build-windows.sh [DIR] [cmake options...]
# DIR defaults to build-win/. Makes voltrix-cli.exe and the unit test
# programs; `ctest --test-dir DIR` then runs the tests under Wine, in a Wine
# prefix of DIR's own. Installs what is missing from Debian first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-build-win}"
if [ "$#" -gt 0 ]; then shift; fi

# mingw-w64 brings the cross compilers (the posix thread flavour among
# them), wine and wine64 run the programs, googletest is the test framework's
# source, compiled here for Windows; nsis makes the installer of the package.
packages=(cmake ninja-build mingw-w64 wine wine64 googletest util-linux nsis)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  echo "build-windows: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOLTRIX_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" "$@" >/dev/null
cmake --build "$dir" -j "${VOLTRIX_BUILD_JOBS:-2}"
