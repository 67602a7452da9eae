#!/usr/bin/env bash
# Measures what the tests catch: applies each deliberate fault of tests/faults/ alone to the
# code, builds every test program, runs them, reverts the fault and
# prints one line per fault with the tests that failed.
#   scripts/faultcheck.sh [-S source-dir] [-B build-dir] [-t test,test...] [fault.patch ...]
# -t builds and runs only the tests named (a quick look at whether they still catch a fault).
# A fault may name the tests that drive it in a line of its own before the diff,
# "Tests: tst_a tst_b"; only those are built and run for it then (unless -t is given).
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

# Every test program ctest knows (the build folder's list), the desktop ones included.
mapfile -t tests < <(cd "$build" && ctest -N | sed -n 's/^ *Test *#[0-9]*: *//p')
[ ${#tests[@]} -gt 0 ] || { echo "no tests in $build" >&2; exit 2; }
[ -z "$only" ] || IFS=, read -r -a tests <<< "$only"
all_tests=("${tests[@]}")
built=()

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
    tests=("${all_tests[@]}")
    named=$(sed -n '/^diff /q; s/^Tests: //p' "$fault")
    [ -n "$only" ] || [ -z "$named" ] || read -r -a tests <<< "$named"
    pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
    built+=("${tests[@]}")
    # The whole list is built as the whole build: some of its tests are scripts, no targets.
    targets=("${tests[@]}")
    [ -n "$only" ] || [ -n "$named" ] || targets=(all)
    if ! cmake --build "$build" -j2 --target "${targets[@]}" > "$build/faultcheck-$name.log" 2>&1; then
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
[ -n "$only" ] || built=(all)
[ ${#built[@]} -eq 0 ] || cmake --build "$build" -j2 --target "${built[@]}" > "$build/faultcheck-restore.log" 2>&1
exit $missed
