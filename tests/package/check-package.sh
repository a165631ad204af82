#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and builds the consumer program
# against it twice, the way users do: with find_package, and with pkg-config,
# and then the README's first programs (GEARSET_PREFIX names an installed tree
# to use instead, GEARSET_LIBDIR its library folder).
# Each must build and run. The tree is installed in one place and moved before
# use, since both package files promise a tree that may move. Arguments: the
# build tree, the consumer's sources, the C++ compiler and its flags (the
# sanitizer build's must reach the consumer too), the scratch folder.
set -euo pipefail
build=$1 consumer=$2 compiler=$3 flags=$4 scratch=$5
libdir=${GEARSET_LIBDIR:-lib}
rm -rf "$scratch"
mkdir -p "$scratch/run"
if [ -n "${GEARSET_PREFIX:-}" ]; then
  prefix=$GEARSET_PREFIX  # a tree installed already (an unpacked package); build is unused
else
  prefix=$scratch/prefix
  cmake --install "$build" --prefix "$scratch/staged" >/dev/null
  mv "$scratch/staged" "$prefix"
fi

echo "== layout"
# What goes into the shared folders of a prefix carries the project's name;
# the generic names of the platform libraries stay in private folders.
unexpected() {
  echo "unexpected in the shared folder $1 of the install tree: $2" >&2
  exit 1
}
for entry in "$prefix/$libdir"/*; do
  case ${entry##*/} in
    libKorvan.Gearset.so* | korvan-gearset-* | cmake | pkgconfig) ;;
    *) unexpected "$libdir" "${entry##*/}" ;;
  esac
done
for entry in "$prefix/include"/*; do
  case ${entry##*/} in
    Korvan | korvan-gearset) ;;
    *) unexpected include "${entry##*/}" ;;
  esac
done
if [ -e "$prefix/bin/gearset" ]; then  # the tool finds the private folder too
  "$prefix/bin/gearset" --version >/dev/null
fi

echo "== find_package"
cmake -S "$consumer" -B "$scratch/cmake" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
"$scratch/cmake/consumer" "$scratch/run"

echo "== pkg-config"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
pkg-config --validate korvan-gearset
# shellcheck disable=SC2046,SC2086  # pkg-config's words are meant to split
"$compiler" $flags $(pkg-config --cflags korvan-gearset) "$consumer/main.cpp" -o "$scratch/pc-consumer" \
    $(pkg-config --libs korvan-gearset) -Wl,-rpath,"$(pkg-config --variable=libdir korvan-gearset)"
"$scratch/pc-consumer" "$scratch/run"

echo "== the README's first programs"
# Every C++ block of the README's section of first programs, as it stands:
# compiled against the install tree with pkg-config, and run in a folder of
# its own (one makes folders where it runs).
readme=$(cd "$consumer/../../.." && pwd)/README.md
examples=$scratch/readme
mkdir -p "$examples"
awk -v dir="$examples" '
  /^### A first program of each family/ { inside = 1; next }
  inside && /^##/ { inside = 0 }
  inside && /^```cpp$/ { block++; file = sprintf("%s/example-%d.cpp", dir, block); writing = 1; next }
  writing && /^```$/ { writing = 0; close(file); next }
  writing { print > file }
' "$readme"
count=$(find "$examples" -name 'example-*.cpp' | wc -l)
[ "$count" -ge 6 ] || { echo "found $count C++ examples in the README, expected one per family" >&2; exit 1; }
for source in "$examples"/example-*.cpp; do
  program=${source%.cpp}
  # shellcheck disable=SC2046,SC2086
  "$compiler" $flags $(pkg-config --cflags korvan-gearset) "$source" -o "$program" \
      $(pkg-config --libs korvan-gearset) -Wl,-rpath,"$(pkg-config --variable=libdir korvan-gearset)"
  mkdir -p "$program.run"
  (cd "$program.run" && "$program") >"$program.out" || { echo "${source##*/} failed" >&2; exit 1; }
  echo "${source##*/}: $(head -1 "$program.out")"
done
