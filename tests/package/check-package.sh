#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and builds the consumer program
# against it twice, the way users do: with find_package, and with pkg-config.
# Each must build and run. Arguments: the build tree, the consumer's sources,
# the C++ compiler and its flags (the sanitizer build's must reach the
# consumer too), the scratch folder.
set -euo pipefail
build=$1 consumer=$2 compiler=$3 flags=$4 scratch=$5
rm -rf "$scratch"
mkdir -p "$scratch/run"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

echo "== find_package"
cmake -S "$consumer" -B "$scratch/cmake" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
"$scratch/cmake/consumer" "$scratch/run"

echo "== pkg-config"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig:$prefix/${GEARSET_LIBDIR:-lib}/pkgconfig
# shellcheck disable=SC2046,SC2086  # pkg-config's words are meant to split
"$compiler" $flags $(pkg-config --cflags korvan-gearset) "$consumer/main.cpp" -o "$scratch/pc-consumer" \
    $(pkg-config --libs korvan-gearset) -Wl,-rpath,"$(pkg-config --variable=libdir korvan-gearset)"
"$scratch/pc-consumer" "$scratch/run"
