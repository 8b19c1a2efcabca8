#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine. Safe to run
# again: packages already present are left alone.
set -euo pipefail

packages=(
  g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev valgrind python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 mingw-w64-tools
  clang libclang-rt-14-dev wine wine64 wine64-tools pkg-config wixl msitools
  libasio-dev curl prometheus
  zlib1g-dev libz-mingw-w64-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The 32-bit Wine runtime is optional: the i686 DLL is tested under it when it
# can be had. One attempt, quietly.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  if [ "${VZ_TRY_WINE32:-1}" = 1 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    # A failed attempt takes the architecture away again, so that later
    # package updates on this machine are not broken by missing i386 indexes.
    { $SUDO dpkg --add-architecture i386 && $SUDO apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq wine32:i386; } >/dev/null 2>&1 ||
      { $SUDO dpkg --remove-architecture i386 >/dev/null 2>&1 || true; }
  fi
fi
