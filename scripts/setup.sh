#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: packages already present are not touched, and apt is only
# asked when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libcli11-dev nlohmann-json3-dev libcpp-httplib-dev
  libsqlite3-dev
  postgresql libpq-dev libsodium-dev libssl-dev openssl
  qt6-base-dev
  clang
  fonts-wqy-zenhei fonts-liberation2 fonts-dejavu-core
  dpkg-dev file lintian groff-base man-db systemd
  xvfb xdotool x11-apps imagemagick
  locales
  strace
  chromium chromium-driver python3-selenium
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# The fuzzer and sanitizer runtimes of clang come in a package whose name
# carries clang's version on some releases and not on others.
clang_runtime_present() {
  command -v clang >/dev/null 2>&1 || return 1
  local resources
  resources="$(clang -print-resource-dir 2>/dev/null)" || return 1
  [ -n "$(find "$resources/lib" -name 'libclang_rt.fuzzer*.a' -print -quit 2>/dev/null)" ]
}

# The runtime package this release offers for its default clang.
clang_runtime_package() {
  local version candidate
  version="$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)"
  for candidate in libclang-rt-dev ${version:+libclang-rt-$version-dev} \
    ${version:+libclang-common-$version-dev}; do
    if apt-cache show "$candidate" >/dev/null 2>&1; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

need_clang_runtime=false
if ! clang_runtime_present; then need_clang_runtime=true; fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

# The Chinese locale: Wine runs programs under the code page 936 in it, and
# its console shows Chinese only where the locale exists (the Unicode test
# of the Windows build). Made once, after the package that can make it.
make_chinese_locale() {
  if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
    "${sudo_cmd[@]}" localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
  fi
}

if [ "${#missing[@]}" -eq 0 ] && [ "$need_clang_runtime" = false ]; then
  make_chinese_locale
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
if [ "$need_clang_runtime" = true ]; then
  if ! runtime="$(clang_runtime_package)"; then
    echo "setup: this release offers no package with clang's fuzzer runtime" >&2
    exit 1
  fi
  missing+=("$runtime")
fi
echo "setup: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
make_chinese_locale
