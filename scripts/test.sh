#!/usr/bin/env bash
# Builds and runs every test in four legs: on Linux the debug build and the
# AddressSanitizer + UndefinedBehaviorSanitizer build, then the 32-bit and
# the 64-bit Windows builds under Wine.
#   scripts/test.sh           all four legs
#   scripts/test.sh --linux   the two Linux legs alone, for a quick local run
#   scripts/test.sh --windows the two Windows legs alone
# A leg passes only when ctest's summary line says all of a non-zero number of
# tests passed: Wine without its 32-bit half runs nothing and exits 0. On a
# kernel that runs no 32-bit programs the 32-bit leg is built and checked but
# not run, and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=(dev asan windows-i686 windows-x64)
packages=yes
case "${1:-}" in
  --linux) presets=(dev asan) packages=no ;;
  --windows) presets=(windows-i686 windows-x64) packages=no ;;
  --packages) presets=() ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--linux | --windows | --packages]" >&2; exit 2 ;;
esac
if [[ " ${presets[*]} " == *" windows-"* || $packages = yes ]]; then
  echo "Making sure MinGW-w64, Wine and the cross-built libraries are there (the first run installs and builds them) ..." >&2
  scripts/deps.sh windows
else
  scripts/deps.sh test
fi
scripts/check-house-rules.sh
# Some kernels run no 32-bit x86 programs (execve answers "Exec format
# error"); there the 32-bit half of Wine cannot start. Asks its loader.
runs_32bit_programs() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# Where the 32-bit leg's tests cannot run, the leg still builds, and its
# binaries are checked for what a host loads: 32-bit PE files, the library
# exporting its marker.
check_i686_binaries() {
  local bin=build/windows-i686/bin objdump=i686-w64-mingw32-objdump
  local headers
  for file in Korvan.Gearset.dll Tolmbase.dll Image.dll Unicode.dll gearset.exe; do
    headers=$("$objdump" -p "$bin/$file")
    grep -q '^Magic.*(PE32)$' <<<"$headers" || { echo "$bin/$file is not a 32-bit PE file" >&2; exit 1; }
  done
  headers=$("$objdump" -p "$bin/Korvan.Gearset.dll")
  grep -q ' __TolmbaseUsed$' <<<"$headers" ||
    { echo "$bin/Korvan.Gearset.dll does not export __TolmbaseUsed" >&2; exit 1; }
}

for preset in "${presets[@]}"; do
  echo "== $preset build ==" >&2
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = windows-i686 ] && ! runs_32bit_programs; then
    check_i686_binaries
    echo "== windows-i686: NOT RUN: this machine's kernel runs no 32-bit x86 programs, so Wine cannot" \
         "start its 32-bit half; the leg was built and its DLLs and gearset.exe checked as 32-bit PE" \
         "files ($((SECONDS - start)) s) ==" >&2
    continue
  fi
  log=build/$preset/ctest-summary.log
  status=0
  if [[ $preset == windows-* ]]; then
    # One Wine server for the whole leg: between two test programs the server
    # may be shutting down as the next one connects, and that one then dies
    # ("recvmsg: Connection reset by peer").
    # (The 64-bit server serves 32-bit programs too.)
    triplet=i686-w64-mingw32
    [ "$preset" = windows-x64 ] && triplet=x86_64-w64-mingw32
    server=/usr/lib/wine/wineserver64
    [ -x "$server" ] || server=wineserver
    export WINEPREFIX=$PWD/build/wine-$triplet
    mkdir -p "$WINEPREFIX"
    # A server left over from an earlier run of this prefix would refuse the new one.
    "$server" -k >/dev/null 2>&1 || true
    "$server" -p
    # Starts the prefix's own processes now, away from ctest's output pipes,
    # which they would otherwise hold open for as long as the server lives.
    loader=/usr/lib/wine/wine64
    [ -x "$loader" ] || loader=wine
    WINEDEBUG=-all "$loader" wineboot >/dev/null 2>&1 </dev/null || true
  fi
  # Under Wine a test program now and then dies as it starts, about one in
  # 1,500 (a segmentation fault of Wine's within 0.06 s, or no output at all),
  # whatever the code under test: a failed Windows test runs once more, and a
  # test that passed only then is named below rather than hidden.
  again=()
  [[ $preset == windows-* ]] && again=(--repeat until-pass:2)
  ctest --preset "$preset" "${again[@]}" 2>&1 | tee "$log" || status=$?
  if [[ $preset == windows-* ]]; then
    "$server" -k || true
    unset WINEPREFIX
  fi
  if [ $status -ne 0 ] || ! grep -Eq '^100% tests passed, 0 tests failed out of [1-9][0-9]*$' "$log"; then
    echo "== $preset: not every test passed (or none ran) ==" >&2
    exit 1
  fi
  echo "== $preset: $(grep -E '^100% tests passed' "$log") in $((SECONDS - start)) s ==" >&2
  if retried=$(grep -E 'Test +#[0-9]+: .*\*\*\*(Failed|Exception)' "$log"); then
    echo "== $preset: passed only when run again under Wine:" >&2
    echo "$retried" | sed -E 's/^.*Test +#[0-9]+: ([^ ]+).*$/     \1/' >&2
  fi
done

if [ $packages = yes ]; then
  echo "== release artifacts ==" >&2
  start=$SECONDS
  scripts/package.sh
  tests/package/check-release.sh
  echo "== release artifacts: each built and tried in $((SECONDS - start)) s ==" >&2
fi
