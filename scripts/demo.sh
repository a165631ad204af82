#!/usr/bin/env bash
# Builds the library and the tool (release) and runs `gearset demo`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake --preset release -DGEARSET_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build --preset release --target gearset
exec build/release/bin/gearset demo "$@"
