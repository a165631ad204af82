#!/bin/bash
# The record store's read rate under Wine against the Linux build on the same
# machine: `gearset store bench` of the release builds, Linux, Wine x64 and
# Wine i686 in turn, RUNS times, and the medians with their ratios. The
# machine is shared, so the runs alternate and only medians are compared.
#
#     scripts/wine-store-bench.sh [RUNS] [bench arguments]
#     scripts/wine-store-bench.sh 7 --count 10000 --size 4096
#
# Needs the presets release, windows-x64-release and windows-i686-release
# built (cmake --build --preset NAME) and Wine (scripts/deps.sh windows).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
shift || true
[ $# -gt 0 ] || set -- --count 10000 --size 4096
export WINEPREFIX=$PWD/build/wine-bench WINEDEBUG=-all
mkdir -p "$WINEPREFIX"

readRate() { "$@" 2>&1 | awk '/^read/ { print $4 }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

linux=() x64=() i686=()
for _ in $(seq "$runs"); do
    linux+=("$(readRate build/release/bin/gearset store bench "$@")")
    x64+=("$(readRate /usr/lib/wine/wine64 build/windows-x64-release/bin/gearset.exe store bench "$@")")
    i686+=("$(readRate /usr/lib/wine/wine build/windows-i686-release/bin/gearset.exe store bench "$@")")
done
l=$(median "${linux[@]}") x=$(median "${x64[@]}") i=$(median "${i686[@]}")
echo "read MB/s, $runs runs: linux ${linux[*]} | x64 ${x64[*]} | i686 ${i686[*]}"
awk -v l="$l" -v x="$x" -v i="$i" \
    'BEGIN { printf "medians: linux %s, wine x64 %s (%.2f), wine i686 %s (%.2f)\n", l, x, x / l, i, i / l }'
