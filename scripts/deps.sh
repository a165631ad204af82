#!/usr/bin/env bash
# Makes sure the Debian packages that a build needs are installed.
#   scripts/deps.sh build   what the library and the tool need
#   scripts/deps.sh test    that, plus the test frameworks and tools
#   scripts/deps.sh windows that, plus MinGW-w64, Wine (with its 32-bit half,
#                           which needs the i386 architecture) and the
#                           cross-built libraries of scripts/windows-deps.sh,
#                           and what the release artifacts need (dpkg-shlibdeps,
#                           lintian, unzip)
#   scripts/deps.sh fuzz    what the library needs, plus clang and its libFuzzer
# As root it installs what is missing with apt-get; otherwise it prints the one
# apt-get line to run and fails.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libzstd-dev libjpeg62-turbo-dev libpng-dev)
case "${1:-build}" in
  build) ;;
  test) packages+=(libgtest-dev libbenchmark-dev libsqlite3-dev liblmdb-dev libjpeg-turbo-progs python3 clang-format) ;;
  fuzz) packages+=(clang libclang-rt-14-dev) ;;
  windows)
    packages+=(libgtest-dev libbenchmark-dev libsqlite3-dev liblmdb-dev libjpeg-turbo-progs python3 clang-format)
    packages+=(mingw-w64 libz-mingw-w64-dev wine wine64 wine32:i386 dpkg-dev googletest lintian unzip) ;;
  *) echo "usage: scripts/deps.sh [build|test|fuzz|windows]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  [ "${1:-build}" = windows ] && exec "$(dirname "$0")/windows-deps.sh"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages. Run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing ${missing[*]} ..." >&2
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture (for wine32) ..." >&2
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
[ "${1:-build}" = windows ] && exec "$(dirname "$0")/windows-deps.sh"
