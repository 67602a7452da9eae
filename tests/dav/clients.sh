#!/usr/bin/env bash
# Drives real WebDAV clients (rclone, cadaver) against `tessaly --headless` on loopback and
# checks what lands on disk.
#   clients.sh TESSALY            the test (exit 77 when a client is not installed)
#   clients.sh TESSALY --litmus   runs the litmus suite as well, prints its report and checks
#                                 the number of tests each part passes
set -euo pipefail

tessaly=${1:?usage: clients.sh TESSALY [--litmus]}
with_litmus=${2:-}

for client in rclone cadaver; do
    command -v "$client" >/dev/null || { echo "SKIP: $client is not installed"; exit 77; }
done

. "$(dirname "$0")/../testlib.sh"

same() { cmp -s "$1" "$2"; }
absent() { [ ! -e "$1" ]; }

share=$work/share
local=$work/local
mkdir -p "$share/docs" "$local" "$work/home"
printf 'first line\nsecond line\n' > "$share/docs/m.txt"
echo top > "$share/top.txt"
cp "$share/docs/m.txt" "$local/m.txt"

export HOME=$work/home XDG_CACHE_HOME=$work/home/.cache XDG_CONFIG_HOME=$work/home/.config
start_server "$tessaly" --share "$share"
[[ $url == http://127.0.0.1:*/ ]] || { echo "FAIL  the server printed no URL"; cat "$work/server.err"; exit 1; }

# ---------------------------------------------------------------- rclone, vendor owncloud
# Times travel with the files: a second sync transfers nothing, a same-size edit is sent.
export RCLONE_CONFIG=/dev/null RCLONE_CONFIG_O_TYPE=webdav RCLONE_CONFIG_O_URL=$url RCLONE_CONFIG_O_VENDOR=owncloud
rc() { rclone --retries 1 --low-level-retries 1 --timeout 20s -q "$@"; }
copied() { rclone --retries 1 --low-level-retries 1 --timeout 20s -v "$@" 2>&1 | grep -c ': Copied' || true; }
mkdir -p "$local/sync/sub"
printf 'one\n' > "$local/sync/one.txt"
printf 'hidden\n' > "$local/sync/.hidden.txt"
head -c 300001 /dev/urandom > "$local/sync/sub/two.bin"
touch -d @1262700187 "$local/sync/one.txt" "$local/sync/.hidden.txt"
touch -d @1500000000 "$local/sync/sub/two.bin"
check "rclone lists the root" test "$(rc lsf o: | sort | tr '\n' ' ')" = "docs/ top.txt "
check "rclone owncloud: sync sends the tree" test "$(copied sync "$local/sync" o:sync)" -eq 3
check "  times equal the local ones" test "$(rc lsl o:sync | sort)" = "$(rc lsl "$local/sync" | sort)"
check "  the server's files have them" test "$(stat -c %Y "$share/sync/sub/two.bin")" -eq 1500000000
check "  a second sync transfers nothing" test "$(copied sync "$local/sync" o:sync)" -eq 0
printf 'ONE\n' > "$local/sync/one.txt"
touch -d @1262800000 "$local/sync/one.txt"
check "  a same-size edit is sent" test "$(copied sync "$local/sync" o:sync)" -eq 1
check "  new bytes on the server" same "$local/sync/one.txt" "$share/sync/one.txt"
check "  a server-side copy keeps the time" rc copyto o:sync/one.txt o:sync/copy.txt
check "  same time on the copy" test "$(stat -c %Y "$share/sync/copy.txt")" -eq 1262800000

# ---------------------------------------------------------------- cadaver
printf 'cadaver one\n' > "$local/c1.txt"
printf 'cadaver two, longer\n' > "$local/c2.txt"
cat > "$work/cadaver.txt" <<COMMANDS
ls
cd docs
ls
get m.txt $local/cad-get.txt
put $local/c1.txt c.txt
lock c.txt
put $local/c2.txt c.txt
unlock c.txt
mkcol newcol
copy c.txt newcol/c-copy.txt
move newcol/c-copy.txt m.txt
put $local/c1.txt gone.txt
delete gone.txt
rmcol newcol
ls
quit
COMMANDS
timeout 30 cadaver "$url" < "$work/cadaver.txt" > "$work/cadaver.out" 2>&1 || true
succeeded=$(grep -c 'succeeded' "$work/cadaver.out" || true)
check "cadaver: 14 operations succeeded" test "$succeeded" -eq 14
check "cadaver: none failed" sh -c "! grep -qi 'failed' '$work/cadaver.out'"
check "  ls shows the sub-folder" grep -q 'Coll: *docs' "$work/cadaver.out"
check "  ls shows the file" grep -q ' m.txt ' "$work/cadaver.out"
check "  get: same bytes" same "$local/m.txt" "$local/cad-get.txt"
check "  put over an existing file" same "$local/c2.txt" "$share/docs/c.txt"
check "  move onto an existing name" same "$local/c2.txt" "$share/docs/m.txt"
check "  deleted file gone" absent "$share/docs/gone.txt"
check "  removed collection gone" absent "$share/docs/newcol"
[ $failures -eq 0 ] || { echo "--- cadaver said:"; cat "$work/cadaver.out"; }

# ---------------------------------------------------------------- litmus
# Every suite's report, and what each must reach: basic and copymove fail only on the kept
# answers (README).
if [ "$with_litmus" = "--litmus" ]; then
    if command -v litmus >/dev/null; then
        (cd "$work" && timeout 300 litmus -k "$url") > "$work/litmus.out" 2>&1 || true
        cat "$work/litmus.out"
        passed() { sed -n "s/^<- summary for \`$1': of [0-9]* tests run: \([0-9]*\) passed.*/\1/p" "$work/litmus.out"; }
        check "litmus basic: 12 passed" test "$(passed basic)" = 12
        check "litmus copymove: 12 passed" test "$(passed copymove)" = 12
        check "litmus props: 30 passed" test "$(passed props)" = 30
        check "litmus locks: 41 passed" test "$(passed locks)" = 41
        check "litmus http: 4 passed" test "$(passed http)" = 4
    else
        echo "SKIP: litmus is not installed"
    fi
fi

echo "$failures failure(s)"
[ $failures -eq 0 ]
