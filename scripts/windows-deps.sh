#!/usr/bin/env bash
# Cross-builds the libraries that Debian ships no MinGW build of (zstd,
# libjpeg-turbo, libpng) and GoogleTest, static, into
# build/windows-deps/<triplet> for each Windows architecture. Sources come
# from Debian's source packages (a deb-src entry is added when missing);
# a prefix is rebuilt only when the versions below change.
#   scripts/windows-deps.sh [i686-w64-mingw32|x86_64-w64-mingw32]...
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Versions that the bookworm suite serves as source (the newest security
# update of libpng is not served, 1.6.39-2+deb12u5 is).
sources=(libzstd=1.5.4+dfsg2-5 libjpeg-turbo=1:2.1.5-2 libpng1.6=1.6.39-2+deb12u5)
stamp="${sources[*]} googletest=$(dpkg-query -W -f='${Version}' googletest)"

triplets=("$@")
[ ${#triplets[@]} -gt 0 ] || triplets=(i686-w64-mingw32 x86_64-w64-mingw32)

src=$root/build/windows-deps/src
fetch_sources() {
  [ -f "$src/.stamp" ] && [ "$(cat "$src/.stamp")" = "$stamp" ] && return
  if ! apt-get source --help >/dev/null 2>&1 || ! grep -rqs '^Types: deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    [ "$(id -u)" -eq 0 ] || { echo "Need a deb-src entry for bookworm; run as root" >&2; exit 1; }
    echo "Adding a deb-src entry for bookworm (Debian's sources of zstd, libjpeg-turbo, libpng) ..." >&2
    cat >/etc/apt/sources.list.d/gearset-deb-src.sources <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt-get update -qq
  fi
  rm -rf "$src" && mkdir -p "$src/download"
  echo "Fetching the sources of ${sources[*]} ..." >&2
  (cd "$src/download" && apt-get source -qq --download-only "${sources[@]}" 2>/dev/null)
  for dsc in "$src"/download/*.dsc; do
    name=$(basename "$dsc" .dsc); name=${name%%_*}
    dpkg-source -q --no-check -x "$dsc" "$src/$name" >/dev/null
  done
  echo "$stamp" >"$src/.stamp"
}

build_one() {  # name source-dir triplet cmake-arguments...
  local name=$1 dir=$2 triplet=$3; shift 3
  local prefix=$root/build/windows-deps/$triplet work=$root/build/windows-deps/work/$triplet/$name
  local toolchain=windows-i686
  [ "$triplet" = x86_64-w64-mingw32 ] && toolchain=windows-x64
  rm -rf "$work"
  cmake -S "$dir" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$toolchain.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=ON "$@" >"$work.log" 2>&1 ||
    { cat "$work.log" >&2; exit 1; }
  cmake --build "$work" --target install >>"$work.log" 2>&1 || { tail -40 "$work.log" >&2; exit 1; }
}

fetch_sources
for triplet in "${triplets[@]}"; do
  prefix=$root/build/windows-deps/$triplet
  [ -f "$prefix/.stamp" ] && [ "$(cat "$prefix/.stamp")" = "$stamp" ] && continue
  echo "Cross-building zstd, libjpeg-turbo, libpng and GoogleTest for $triplet ..." >&2
  rm -rf "$prefix" && mkdir -p "$root/build/windows-deps/work/$triplet"
  build_one zstd "$src/libzstd/build/cmake" "$triplet" -DZSTD_BUILD_SHARED=OFF \
    -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=OFF
  build_one jpeg "$src/libjpeg-turbo" "$triplet" -DENABLE_SHARED=OFF -DWITH_SIMD=OFF \
    -DWITH_TURBOJPEG=OFF
  build_one png "$src/libpng1.6" "$triplet" -DPNG_SHARED=OFF -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DPNG_BUILD_ZLIB=OFF -DZLIB_LIBRARY=/usr/$triplet/lib/libz.a \
    -DZLIB_INCLUDE_DIR=/usr/$triplet/include
  build_one googletest /usr/src/googletest "$triplet" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON
  echo "$stamp" >"$prefix/.stamp"
done
