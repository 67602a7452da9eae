#!/usr/bin/env bash
# The load test of tests/stress/tst_load.cpp in its long form, against the headless
# program on 127.0.0.1:
#   tests/stress/run.sh              with the normal build (./build)
#   tests/stress/run.sh --sanitize   with the AddressSanitizer build (./build-sanitize)
# Long form: 4 rounds of 500 concurrent connections downloading 1 MB and uploading 300 KB each,
# bounded by a 20-minute timeout. The figures are
# the QINFO lines of the output.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/prepare.sh"
cmake_options=()
if [ "${1:-}" = "--sanitize" ]; then
    TESSALY_BUILD=$TESSALY_TOP/build-sanitize
    cmake_options+=(-DTESSALY_SANITIZE=ON)
    export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    shift
fi
prepare_build "${cmake_options[@]}"
export TESSALY_BUILD_DIR=$TESSALY_BUILD TESSALY_STRESS=long QT_QPA_PLATFORM=offscreen
exec timeout --signal=TERM --kill-after=30 1200 "$TESSALY_BUILD/tests/tst_load" "$@"
