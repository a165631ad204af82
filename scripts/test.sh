#!/usr/bin/env bash
# Builds and runs every test in four legs: on Linux the debug build and the
# AddressSanitizer + UndefinedBehaviorSanitizer build, then the 32-bit and
# the 64-bit Windows builds under Wine.
#   scripts/test.sh           all four legs
#   scripts/test.sh --linux   the two Linux legs alone, for a quick local run
# A leg passes only when ctest's summary line says all of a non-zero number of
# tests passed: Wine without its 32-bit half runs nothing and exits 0.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=(dev asan windows-i686 windows-x64)
case "${1:-}" in
  --linux) presets=(dev asan) ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--linux]" >&2; exit 2 ;;
esac
if [ ${#presets[@]} -gt 2 ]; then
  echo "Making sure MinGW-w64, Wine and the cross-built libraries are there (the first run installs and builds them) ..." >&2
  scripts/deps.sh windows
else
  scripts/deps.sh test
fi
scripts/check-house-rules.sh
for preset in "${presets[@]}"; do
  echo "== $preset build ==" >&2
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  log=build/$preset/ctest-summary.log
  status=0
  ctest --preset "$preset" 2>&1 | tee "$log" || status=$?
  if [ $status -ne 0 ] || ! grep -Eq '^100% tests passed, 0 tests failed out of [1-9][0-9]*$' "$log"; then
    echo "== $preset: not every test passed (or none ran) ==" >&2
    exit 1
  fi
  echo "== $preset: $(grep -E '^100% tests passed' "$log") in $((SECONDS - start)) s ==" >&2
done
