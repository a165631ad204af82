#!/usr/bin/env bash
# Makes every release artifact from the sources into build/packages/:
#   korvan-gearset-VERSION-win32.zip, korvan-gearset-VERSION-win64.zip
#   korvan-gearset_VERSION_ARCH.deb
# Each is a release build of its own (build/package-*), installed and packed
# by CPack; the version is the project's (CMakeLists.txt). Installs what it
# needs first (scripts/deps.sh windows) when run as root.
#   scripts/package.sh            all three
#   scripts/package.sh deb|win32|win64 ...   the ones named
set -euo pipefail
cd "$(dirname "$0")/.."
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(deb win32 win64)
for target in "${targets[@]}"; do
  case $target in deb | win32 | win64) ;; *) echo "usage: scripts/package.sh [deb|win32|win64]..." >&2; exit 2 ;; esac
done
scripts/deps.sh windows  # MinGW-w64 and the cross-built libraries, dpkg-shlibdeps, lintian
out=$PWD/build/packages
mkdir -p "$out"
for target in "${targets[@]}"; do
  build=build/package-$target
  options=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DGEARSET_BUILD_TESTS=OFF -DGEARSET_WERROR=OFF)
  case $target in
    deb) options+=(-DCMAKE_INSTALL_PREFIX=/usr -DGEARSET_DEB_PACKAGE=ON) ;;
    win32) options+=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/windows-i686.cmake) ;;
    win64) options+=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/windows-x64.cmake) ;;
  esac
  echo "== $target: building $build" >&2
  cmake -S . -B "$build" "${options[@]}" >/dev/null
  cmake --build "$build"
  (cd "$build" && cpack -B "$out" >/dev/null)
done
rm -rf "$out/_CPack_Packages"
ls -l "$out"
