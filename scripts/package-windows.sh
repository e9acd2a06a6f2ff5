#!/usr/bin/env bash
# Builds the Windows package of a Windows build tree and checks what it ships:
#   package-windows.sh [BUILD_DIR]        (default: build-win)
# Makes BUILD_DIR/voltrix-VERSION-win64.zip and the installer
# voltrix-VERSION-win64.exe (Debian's nsis, which build-windows.sh
# installs), then checks that the archive holds both programs, the quick
# start README.txt and the licence LICENSE.txt (both with CRLF line ends),
# that the installer is a 64-bit program, and that voltrix.exe carries its
# dialog, strings and version resource. tests/wine/run-installer.sh tries
# the installer itself.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-build-win}"
if [ ! -f "$dir/CMakeCache.txt" ]; then bash "$root/scripts/build-windows.sh" "$dir"; fi
dir="$(cd "$dir" && pwd)"
cmake --build "$dir"

echo "== $dir: Windows package"
rm -f "$dir"/voltrix-*-win64.zip "$dir"/voltrix-*-win64.exe
(cd "$dir" && cpack >/dev/null)
if ! log="$(cmake --build "$dir" --target installer 2>&1)"; then
  echo "$log" >&2
  echo "package-windows: the installer was not made (is nsis installed? build-windows.sh installs it)" >&2
  exit 1
fi
zip="$(ls "$dir"/voltrix-*-win64.zip)"
installer="${zip%.zip}.exe"
listing="$(cmake -E tar tf "$zip")"
failures=0
for member in bin/voltrix.exe bin/voltrix-cli.exe README.txt LICENSE.txt; do
  if ! grep -q "^voltrix-[0-9.]*-win64/$member\$" <<<"$listing"; then
    echo "package-windows: $member is missing from $zip" >&2
    failures=$((failures + 1))
  fi
done

# A 64-bit installer: the 32-bit one would not even start on a Wine without
# wine32, and installs into the wrong Program Files on Windows.
format="$(x86_64-w64-mingw32-objdump -f "$installer" 2>/dev/null | sed -n 's/.*file format //p')"
if [ "$format" != pei-x86-64 ]; then
  echo "package-windows: $installer is missing or not a 64-bit program (${format:-no PE file})" >&2
  failures=$((failures + 1))
fi

# The texts are for Notepad: every line ends in CRLF.
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && cmake -E tar xf "$zip")
for text in README.txt LICENSE.txt; do
  file="$(ls "$unpacked"/voltrix-*-win64/"$text" 2>/dev/null)"
  if [ -z "$file" ] || [ ! -s "$file" ] || grep -q $'[^\r]$' "$file" || grep -q '^$' "$file"; then
    echo "package-windows: $text is missing, empty or has a line without CRLF" >&2
    failures=$((failures + 1))
  fi
done

# The resources hold their texts as UTF-16.
resources="$(strings -el "$dir/gui/win32/voltrix.exe")"
for text in 'Pc platform COM download tool' 'DOWNLOAD' 'Zetak V1.0' 'Voltrix.EXE' \
  'Note: This downloading file is just limited to this Zetak!'; do
  if ! grep -qxF "$text" <<<"$resources"; then
    echo "package-windows: voltrix.exe lacks the resource text \"$text\"" >&2
    failures=$((failures + 1))
  fi
done
# String 101 is Chinese: look for its UTF-16 bytes.
hex() { od -An -tx1 -v | tr -d ' \n'; }
if ! hex <"$dir/gui/win32/voltrix.exe" | grep -q "$(printf '关于 Voltrix(&A)...' | iconv -f UTF-8 -t UTF-16LE | hex)"; then
  echo "package-windows: voltrix.exe lacks string 101" >&2
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || exit 1
echo "package-windows: $(basename "$zip") holds both programs, README.txt and LICENSE.txt (CRLF);" \
  "$(basename "$installer") is 64-bit; voltrix.exe carries its resources"
