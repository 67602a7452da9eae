# Shared by the shell tests (tests/*/*.sh), sourced after `set -euo pipefail`:
#   $work                          a temporary folder, removed when the test ends
#   check DESCRIPTION COMMAND...   runs COMMAND, prints ok or FAIL, counts failures in $failures
#   start_server PROGRAM OPTION... runs `PROGRAM --headless --address 127.0.0.1 --port 0 OPTION...`
#                                  and sets $server (its process id) and $url (the URL it printed,
#                                  empty when it printed none); its errors go to $work/server.err
#   stop_server                    ends that server by its process id; true when it exited with 0
# A server still running when the test ends is ended the same way.

work=$(mktemp -d)
server=
cleanup() {
    [ -z "$server" ] || { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; } || true
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok    $what"
    else
        echo "FAIL  $what"
        failures=$((failures + 1))
    fi
}

start_server() {
    local program=$1
    shift
    : > "$work/url"
    "$program" --headless --address 127.0.0.1 --port 0 "$@" > "$work/url" 2> "$work/server.err" &
    server=$!
    # A loaded machine (the first HTTPS start also makes the user's key pair) may take a while;
    # the URL counts once its whole line is written.
    for _ in $(seq 600); do
        [ "$(wc -l < "$work/url")" -ge 1 ] && break
        kill -0 "$server" 2>/dev/null || break
        sleep 0.05
    done
    url=$(head -n 1 "$work/url")
}

stop_server() {
    local pid=$server
    server=
    kill -TERM "$pid"
    wait "$pid"
}
