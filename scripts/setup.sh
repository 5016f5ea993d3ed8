#!/usr/bin/env bash
# Installs the Debian packages the build needs. "native": compilers (clang
# with its fuzzer runtime for fuzz/) and the libraries of the native build;
# "all" (default): also the i686 Windows cross compilers and 32-bit Wine
# for the Windows modules and their tests.
# As root it runs apt-get; otherwise it prints the exact command and stops.
set -euo pipefail

profile=${1:-all}
native=(cmake make g++ pkg-config python3 libgtest-dev googletest libgmock-dev libbenchmark-dev
        libcli11-dev libpng-dev libdivsufsort-dev clang libclang-rt-14-dev)
windows=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386)

packages=("${native[@]}")
[ "$profile" = all ] && packages+=("${windows[@]}")

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

needs_i386=false
for package in "${missing[@]}"; do
  case "$package" in *:i386) needs_i386=true ;; esac
done

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them as root with:" >&2
  $needs_i386 && echo "  dpkg --add-architecture i386 &&" >&2
  echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

if $needs_i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
