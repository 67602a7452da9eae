#!/usr/bin/env bash
# Measures what the tests catch: applies each deliberate fault of tests/faults/ alone to the
# server code, builds the tests that drive the server library, runs them, reverts the fault and
# prints one line per fault with the tests that failed.
#   scripts/faultcheck.sh [-S source-dir] [-B build-dir] [-t test,test...] [fault.patch ...]
# -t builds and runs only the tests named (a quick look at whether they still catch a fault).
# A fault in the desktop code names the tests that drive it in a line of its own before the
# diff, "Tests: tst_a tst_b"; those are built and run for it instead (unless -t is given).
# The build folder must be configured already. A fault that no test catches is printed as
# "caught by nothing" and makes the exit status 1. The faults are never to be committed applied:
# the source is restored even when the run is interrupted.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
src=$top
build=$top/build
only=
while getopts S:B:t: option; do
    case $option in
        t) only=$OPTARG ;;
        S) src=$(cd "$OPTARG" && pwd) ;;
        B) build=$(cd "$OPTARG" && pwd) ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
faults=("$@")
[ ${#faults[@]} -gt 0 ] || faults=("$top"/tests/faults/*.patch)

# The tests that drive the server library in their own process: the server, the web pages and
# WebDAV. Left out: the desktop tests and the tests of the program (they need the desktop
# library built, which takes most of the build), and the fuzz replays (they look for crashes).
tests=(tst_fileresponse tst_parser tst_connection tst_access tst_sessions tst_listener tst_transfer
       tst_tls tst_timeouts tst_faults tst_containment
       tst_folderpage tst_folderactions tst_upload tst_thumbnails tst_deletedir
       tst_propfind tst_davheaders tst_davwrite tst_copymove tst_mfind)
[ -z "$only" ] || IFS=, read -r -a tests <<< "$only"
server_tests=("${tests[@]}")
built=("${tests[@]}")

applied=
revert() {
    if [ -n "$applied" ]; then
        patch -s -p1 -F0 --no-backup-if-mismatch -R -d "$src" < "$applied"
        applied=
    fi
}
trap revert EXIT
trap 'revert; exit 130' INT TERM

missed=0
for fault in "${faults[@]}"; do
    fault=$(cd "$(dirname "$fault")" && pwd)/$(basename "$fault")
    name=$(basename "$fault" .patch)
    patch -s -p1 -F0 --no-backup-if-mismatch --dry-run -d "$src" < "$fault" >/dev/null
    patch -s -p1 -F0 --no-backup-if-mismatch -d "$src" < "$fault"
    applied=$fault
    tests=("${server_tests[@]}")
    named=$(sed -n '/^diff /q; s/^Tests: //p' "$fault")
    [ -n "$only" ] || [ -z "$named" ] || read -r -a tests <<< "$named"
    pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
    [ "${tests[*]}" = "${server_tests[*]}" ] || built+=("${tests[@]}")
    if ! cmake --build "$build" -j2 --target "${tests[@]}" > "$build/faultcheck-$name.log" 2>&1; then
        echo "$name: does not build (see $build/faultcheck-$name.log)"
        revert
        continue
    fi
    # ctest fails when a test does: that is the point here.
    failed=$( (cd "$build" && ctest -j2 -R "$pattern" 2>&1 || true) | tee -a "$build/faultcheck-$name.log" \
             | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' | sort | tr '\n' ' ')
    revert
    if [ -z "$failed" ]; then
        echo "$name: caught by nothing"
        missed=1
    else
        echo "$name: $failed"
    fi
done
# Back to the program as it is.
cmake --build "$build" -j2 --target "${built[@]}" > "$build/faultcheck-restore.log" 2>&1
exit $missed
