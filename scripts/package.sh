#!/usr/bin/env bash
# Builds the Debian packages of one build tree and checks them with lintian:
#   package.sh [BUILD_DIR]        (default: build)
# Configures and builds the tree first when it has not been, then runs
# `cpack -G DEB` in it: BUILD_DIR/voltrix-cli_VERSION_ARCH.deb and, when the
# dialog is built, BUILD_DIR/voltrix_VERSION_ARCH.deb, and when the line is
# built, BUILD_DIR/voltrix-line_VERSION_ARCH.deb. Fails on any lintian
# error (warnings are shown) and when the station service in voltrix-cli does
# not pass tests/install/check-station-service.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-build}"

for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "package: $tool not found (bash scripts/setup.sh installs it)" >&2
    exit 1
  fi
done

echo "== $dir: package"
if [ -f "$dir/CMakeCache.txt" ]; then
  cmake --build "$dir"
else
  bash "$root/scripts/build.sh" "$dir"
fi
dir="$(cd "$dir" && pwd)"

# Only this run's packages are checked: old ones (another version) go first.
rm -f "$dir"/voltrix_*.deb "$dir"/voltrix-cli_*.deb "$dir"/voltrix-line_*.deb
(cd "$dir" && cpack -G DEB)

shopt -s nullglob
debs=("$dir"/voltrix-cli_*.deb)
if [ "${#debs[@]}" -ne 1 ]; then
  echo "package: cpack made no voltrix-cli package in $dir" >&2
  exit 1
fi
if [ -x "$dir/gui/qt/voltrix" ]; then
  gui=("$dir"/voltrix_*.deb)
  if [ "${#gui[@]}" -ne 1 ]; then
    echo "package: cpack made no voltrix package in $dir" >&2
    exit 1
  fi
  debs+=("${gui[@]}")
fi
if [ -x "$dir/line/voltrix-line" ]; then
  line=("$dir"/voltrix-line_*.deb)
  if [ "${#line[@]}" -ne 1 ]; then
    echo "package: cpack made no voltrix-line package in $dir" >&2
    exit 1
  fi
  debs+=("${line[@]}")
fi

for deb in "${debs[@]}"; do
  echo "-- $(basename "$deb")"
  dpkg-deb --field "$deb" Package Version Architecture Depends
  dpkg-deb --contents "$deb"
done

echo "== lintian"
# --fail-on error: exit status 2 on an error; warnings are printed and pass.
if ! lintian --fail-on error --display-info "${debs[@]}"; then
  echo "package: LINTIAN REPORTS ERRORS in ${debs[*]}" >&2
  exit 1
fi
# The station service as packaged: its files and scripts, and the unit's
# command line run with the package's own programs.
if grep -q '^VOLTRIX_SERVICE:BOOL=ON$' "$dir/CMakeCache.txt"; then
  echo "== the station service in $(basename "${debs[0]}")"
  if ! bash "$root/tests/install/check-station-service.sh" --deb "${debs[0]}" \
    "$dir/station-service-deb"; then
    echo "package: the station service in ${debs[0]} is not right" >&2
    exit 1
  fi
fi
echo "package: ${debs[*]} built; lintian reports no error"
