#!/usr/bin/env bash
# Runs the fuzz targets under libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer:
#   tests/fuzz/run.sh TARGET SECONDS   TARGET: request, multipart, propfind, filter, connection, exif
#   tests/fuzz/run.sh all SECONDS      each target in turn, SECONDS each
# Builds with clang into build-fuzz (TESSALY_FUZZ_BUILD names another folder). The inputs of
# tests/fuzz/corpus/TARGET are read as seeds and never written; what the fuzzer learns goes to
# build-fuzz/fuzz-corpus/TARGET, a crashing input to build-fuzz/fuzz-crashes/. Once the fault is
# mended, copy the input into tests/fuzz/corpus/TARGET/, where every build replays it (CTest).
# The runs are niced: on a small machine run one at a time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${TESSALY_FUZZ_BUILD:-$here/../../build-fuzz}
targets=${1:?usage: $0 TARGET|all SECONDS}
seconds=${2:?usage: $0 TARGET|all SECONDS}
[ "$targets" != all ] || targets="request multipart propfind filter connection exif"
for t in $targets; do
    [ -f "$here/fuzz_$t.cpp" ] || { echo "no fuzz target $t" >&2; exit 2; }
done

command -v clang++ >/dev/null || { echo "clang++ is missing: apt-get install clang libclang-rt-14-dev" >&2; exit 1; }
cmake -S "$here/../.." -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DTESSALY_FUZZ=ON >/dev/null
# shellcheck disable=SC2046
cmake --build "$build" -j "$(nproc)" --target $(for t in $targets; do echo "fuzz_$t"; done)

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
mkdir -p "$build/fuzz-crashes"
status=0
for t in $targets; do
    mkdir -p "$build/fuzz-corpus/$t"
    # A target's own dictionary where it has one (exif.dict), else the words of HTTP.
    dict=$here/http.dict
    [ -f "$here/$t.dict" ] && dict=$here/$t.dict
    echo "=== fuzz_$t for $seconds s"
    nice -n 19 "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
        -dict="$dict" -artifact_prefix="$build/fuzz-crashes/$t-" -print_final_stats=1 \
        "$build/fuzz-corpus/$t" "$here/corpus/$t" || status=$?
done
exit $status
