#!/usr/bin/env bash
# Tries each release artifact of build/packages/ as its consumer would:
#   the .deb: unpacked into a scratch root (dpkg -x), the consumer program and
#     the README's first programs built against it with find_package and
#     pkg-config and run (check-package.sh), the tool run, and lintian run on
#     the package, which must report no error;
#   each Windows archive: unpacked, the consumer built against the folder with
#     the matching MinGW-w64 compiler through find_package, and run under Wine
#     beside the archive's DLLs, together with the archive's gearset.exe demo
#     (the 32-bit one only where this machine runs 32-bit programs).
# Run scripts/package.sh first. Argument: which ones (deb win32 win64; all by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
packages=$root/build/packages
scratch=$root/build/release-check
consumer=$root/tests/package/consumer
version=$(sed -n 's/^project(Korvan.Gearset VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(deb win32 win64)
rm -rf "$scratch"
mkdir -p "$scratch"

check_deb() {
  local deb
  deb=$(ls "$packages"/korvan-gearset_"${version}"_*.deb)
  echo "== $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
  dpkg-deb --info "$deb" | grep -E '^ (Depends|Version|Architecture):'
  dpkg -x "$deb" "$scratch/deb"
  local multiarch
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  "$scratch/deb/usr/bin/gearset" --version
  GEARSET_PREFIX=$scratch/deb/usr GEARSET_LIBDIR=lib/$multiarch \
    "$root/tests/package/check-package.sh" - "$consumer" c++ "-O2" "$scratch/deb-consumer"
  echo "== lintian"
  lintian --fail-on error --tag-display-limit 0 "$deb"
}

check_windows() {
  local bits=$1 triplet loader
  if [ "$bits" = win32 ]; then triplet=i686-w64-mingw32 loader=/usr/lib/wine/wine; else triplet=x86_64-w64-mingw32 loader=/usr/lib/wine/wine64; fi
  local archive=$packages/korvan-gearset-$version-$bits.zip
  echo "== $(basename "$archive"): $(du -k "$archive" | cut -f1) KiB"
  unzip -q "$archive" -d "$scratch/$bits"
  local tree=$scratch/$bits/korvan-gearset-$version-$bits
  (cd "$tree" && find . -type f | sort | sed 's/^\.\//  /')
  # A consumer's own toolchain: the compiler and nothing of this project's.
  cat >"$scratch/$bits-toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_CXX_COMPILER $triplet-g++-posix)
EOF
  cmake -S "$consumer" -B "$scratch/$bits-consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$scratch/$bits-toolchain.cmake" -DCMAKE_PREFIX_PATH="$tree" >/dev/null
  cmake --build "$scratch/$bits-consumer" >/dev/null
  if ! "$loader" --version >/dev/null 2>&1; then
    echo "== $bits: built against the archive; NOT RUN: this machine runs no 32-bit programs"
    return
  fi
  cp "$tree"/bin/*.dll "$scratch/$bits-consumer/"
  export WINEPREFIX=$scratch/wine-$bits WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
  mkdir -p "$WINEPREFIX" "$scratch/$bits-run"
  "$loader" "$scratch/$bits-consumer/consumer.exe" "$scratch/$bits-run"
  "$loader" "$tree/bin/gearset.exe" demo >"$scratch/$bits-demo.txt"
  echo "gearset.exe demo: $(wc -l <"$scratch/$bits-demo.txt") lines"
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  unset WINEPREFIX
}

for target in "${targets[@]}"; do
  case $target in
    deb) check_deb ;;
    win32 | win64) check_windows "$target" ;;
    *) echo "usage: tests/package/check-release.sh [deb|win32|win64]..." >&2; exit 2 ;;
  esac
done
echo "== every artifact tried"
