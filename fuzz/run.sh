#!/bin/sh
# Builds the fuzzers with clang and runs each for a while.
#
#   fuzz/run.sh [seconds] [target...]
#
# seconds defaults to 60; the targets default to all of them. The search
# starts from the committed seeds (fuzz/corpus/<target>) and grows a working
# corpus under the build directory, so the seeds stay small. A crash, hang or
# leak leaves its input in <build>/artifacts/<target>/ and makes the script
# fail. BUILD_DIR chooses the build directory (default build-fuzz), JOBS the
# build's parallelism (default 2); extra libFuzzer flags go in FUZZ_FLAGS.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-"fuzz_dates fuzz_text_strings fuzz_archive fuzz_image_readers fuzz_decompress fuzz_store fuzz_paths"}
build=${BUILD_DIR:-$root/build-fuzz}
sanitizers="-fsanitize=address,undefined"

"$root/scripts/deps.sh" fuzz
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGEARSET_BUILD_FUZZERS=ON -DGEARSET_BUILD_TESTS=OFF \
    -DGEARSET_BUILD_TOOLS=OFF \
    -DCMAKE_CXX_FLAGS="$sanitizers -fno-omit-frame-pointer" -DCMAKE_C_FLAGS="$sanitizers" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" -DCMAKE_SHARED_LINKER_FLAGS="$sanitizers" >/dev/null
# shellcheck disable=SC2086
nice cmake --build "$build" --target $targets -j "${JOBS:-2}"

failed=""
for target in $targets; do
    work="$build/corpus/$target"
    artifacts="$build/artifacts/$target"
    mkdir -p "$work" "$artifacts" "$here/corpus/$target"
    echo "== $target for ${seconds}s"
    # shellcheck disable=SC2086
    if ! UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 nice "$build/bin/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" ${FUZZ_FLAGS:-} "$work" "$here/corpus/$target"; then
        failed="$failed $target"
    fi
done
if [ -n "$failed" ]; then
    echo "failed:$failed (inputs in $build/artifacts/)" >&2
    exit 1
fi
