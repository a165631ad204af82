#!/usr/bin/env bash
# Builds and runs every test twice: in the debug build and in the
# AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/check-house-rules.sh
for preset in dev asan; do
  echo "== $preset build ==" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
