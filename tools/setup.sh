#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  cmake make g++ python3 zlib1g-dev libdivsufsort-dev googletest
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  openssl osslsigncode
  dpkg-dev
  wine wine32:i386 wine64 xvfb xauth x11-utils locales
  imagemagick fonts-wqy-microhei
)

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing system packages or locale; run as root: $*" >&2
    exit 1
  fi
}

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root "dpkg --add-architecture i386"
  dpkg --add-architecture i386
  updated=no
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  need_root "apt-get install ${missing[*]}"
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine shows code page 950 only under a zh_TW.UTF-8 locale that exists.
if ! locale -a 2>/dev/null | grep -qi '^zh_TW\.utf-\?8$'; then
  need_root "locale-gen zh_TW.UTF-8"
  sed -i 's/^# *zh_TW.UTF-8 UTF-8/zh_TW.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_TW.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_TW.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
