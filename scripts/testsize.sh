#!/usr/bin/env bash
# The size of the tests against the size of the code, in lines: fails when the tests exceed
# 40 % of the code (or the percentage given), printing both counts. The suite is kept at about a
# third of the code; the limit leaves room for a new row where a mend needs one.
#   scripts/testsize.sh [percent]
# Code: the non-blank lines of the .cpp and .h files outside tests/ and bench/ that do not start
# with "//". Tests: the non-blank lines of the .cpp, .h, .py, .js, .mjs and .sh files under tests/
# (node_modules left out) that start neither with "//" nor with "#". Only files git tracks or
# would track count (no build folder).
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${1:-40}

# count PATTERN FILE...: the lines of the files that are neither blank nor match PATTERN
count() {
    local pattern=$1
    shift
    [ $# -gt 0 ] || { echo 0; return; }
    cat -- "$@" | grep -cvE "^[[:space:]]*($pattern|$)" || true
}

# files FILTER: the files git tracks or would track whose paths match the extended expression
files() {
    local f
    git ls-files --cached --others --exclude-standard | grep -E "$1" | while read -r f; do
        [ -f "$f" ] && echo "$f"
    done
}
mapfile -t code_files < <(files '\.(cpp|h)$' | grep -vE '^(tests|bench)/')
mapfile -t test_files < <(files '^tests/.*\.(cpp|h|py|js|mjs|sh)$' | grep -v '/node_modules/')
code=$(count '//' "${code_files[@]}")
tests=$(count '//|#' "${test_files[@]}")
echo "code: $code lines, tests: $tests lines ($((tests * 100 / code)) %, at most $limit % allowed)"
if [ $((tests * 100)) -gt $((code * limit)) ]; then
    echo "the tests exceed $limit % of the code" >&2
    exit 1
fi
