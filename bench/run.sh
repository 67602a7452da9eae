#!/usr/bin/env bash
# bench/run.sh — Tessaly against nginx on this machine, the same data, the same workloads, one run.
#
#   bench/run.sh [--runs N] [--quick] [--only W1,W2,...] [--build DIR] [--data DIR] [--no-install]
#
#   --runs N      rounds of every workload (default 5); each figure is the median of the rounds
#   --quick       1 round with shorter load phases: a smoke test, not a measurement
#   --only LIST   run only these workloads (W1 W2 W3 W4 W5 W5c W6 W7 W8 W10)
#   --build DIR   the build folder holding the tessaly program (default: build/ of this tree); it is
#                 configured and built Release there when the program is missing
#   --data DIR    where the generated data lives (default /tmp/tessaly-bench-data; made once, 2.1 GiB)
#   --no-install  do not install missing Debian packages
#
# Installs what is missing (nginx, libnginx-mod-http-dav-ext, wrk, curl, python3, imagemagick,
# libimage-exiftool-perl; as root or with sudo), makes the data (bench/make-data.sh), starts two `tessaly --headless` (HTTP and
# HTTPS, each with HOME in a temporary folder) and one nginx (HTTP and HTTPS listeners, one worker,
# sendfile, the dav modules) on 127.0.0.1, all pinned to CPU 0, and drives them from CPU 1 (taskset).
# Within a round, both servers get each workload back to back, the order alternating between rounds.
#
#   W1   GET of the 1 GiB big.bin, one connection, curl (MB/s), over HTTP and HTTPS
#   W2   GET of the 4 KiB small.bin, wrk -t2 -c32 keep-alive (requests/s, p99 latency ms)
#   W3   the folder page of dir1000/ (1000 files), wrk -t2 -c8 (requests/s). nginx: its autoindex
#        page. Tessaly: the page a browser gets first (24 entries per page) and, as W3all, with the
#        page size of the session set to 1000 so that the page lists every entry as nginx's does
#   W4   PROPFIND Depth 1 with an allprop body: dir1000/ by wrk -t2 -c8 (requests/s); dir10000/ one
#        request by curl (ms)
#   W5   PUT of a 256 MiB file, curl -T (MB/s); Tessaly also through its upload form (curl -F),
#        set against nginx's PUT (nginx has no upload form)
#   W5c  W5's PUT sent in chunks with X-Expected-Entity-Length, as macOS Finder sends it (MB/s);
#        goal: at least 0.9 of Tessaly's W5 in the same run
#   W6   RSS of the server (process tree) before and with 200 and with 2,000 idle keep-alive
#        connections that each fetched small.bin (KiB per connection), over HTTP and HTTPS; Tessaly
#        freshly started for each
#   W7   Tessaly only, a fresh server each round: time from the first request for the folder page of
#        50 photos of 12 megapixels (page size 50) until that page answers "200 OK" instead of
#        "202 Accepted" (ms per photo); W7 the photos as an image editor writes them (no EXIF
#        block), W7p the same photos as a camera does, with a 160×120 preview in their EXIF block
#        (half of them tagged to be turned a quarter)
#   W8   W2's load (4 KiB GETs, wrk -t2 -c32) while 10,000 idle keep-alive connections that each
#        fetched small.bin are held open, against the same load without them just before (the
#        share kept); and W2's load on 1,000 active connections (wrk -t2 -c1000)
#
#   W10  Tessaly only: the folder zip100/ (big.bin in 100 files) downloaded as one ZIP, curl (MB/s),
#        set against Tessaly's W1 of the same run (W1 runs with it); and how much the server's RSS
#        grew during the download (MiB, sampled every 50 ms)
#
# The descriptor limit of the servers and clients is raised to the hard limit (W8 needs about
# 10,100 per process); nginx gets as many worker connections.
#
# Prints a markdown table: median (min–max) over the rounds for both servers and the ratio of the
# medians, Tessaly / nginx. Loopback only. Ends only the processes it started, by their PIDs.
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
TOP=$(cd "$HERE/.." && pwd)
RUNS=5; QUICK=0; ONLY=""; BUILD=$TOP/build; DATA=/tmp/tessaly-bench-data; INSTALL=1
while [[ $# -gt 0 ]]; do
    case $1 in
    --runs) RUNS=$2; shift ;;
    --quick) QUICK=1; RUNS=1 ;;
    --only) ONLY=$2; shift ;;
    --build) BUILD=$(mkdir -p "$2" && cd "$2" && pwd) || exit 2; shift ;;
    --data) DATA=$2; shift ;;
    --no-install) INSTALL=0 ;;
    -h | --help) sed -n '2,45p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done
want() { [[ -z $ONLY ]] || [[ ",$ONLY," == *",$1,"* ]]; }
log() { echo "[bench $(date +%T)] $*" >&2; }
if ((QUICK)); then W2_DUR=3; W3_DUR=2; else W2_DUR=10; W3_DUR=5; fi
SERVER_CPU=0; CLIENT_CPU=1
[[ $(nproc) -ge 2 ]] || { SERVER_CPU=0; CLIENT_CPU=0; log "one CPU only: server and client share it"; }
SPIN=(taskset -c "$SERVER_CPU")
CPIN=(taskset -c "$CLIENT_CPU")
CURL=("${CPIN[@]}" curl -s --noproxy '*' --max-time 600 -H 'Expect:')
W8_IDLE=10000; W8_ACTIVE=1000
# Every process started from here inherits the limit: servers, wrk and the connection holder.
ulimit -n "$(ulimit -Hn)" 2>/dev/null
FILES=$(ulimit -n)
[[ $FILES == unlimited ]] && FILES=1048576
((FILES >= W8_IDLE + 200)) || log "only $FILES descriptors per process: W8 cannot hold $W8_IDLE connections"
# nginx sets up all its worker connections at the start: enough for W8, not a million.
NGINX_CONNECTIONS=$((FILES - 100 < 2 * W8_IDLE ? FILES - 100 : 2 * W8_IDLE))

# ------------------------------------------------------------------ what is needed
SUDO=; [[ $(id -u) -eq 0 ]] || SUDO=sudo
if ((INSTALL)); then
    missing=()
    for p in nginx libnginx-mod-http-dav-ext wrk curl python3 imagemagick libimage-exiftool-perl openssl; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if ((${#missing[@]})); then
        log "installing ${missing[*]}"
        $SUDO apt-get update -q >&2 &&
            DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q -o DPkg::Lock::Timeout=300 \
                "${missing[@]}" >&2 || { log "installing failed"; exit 1; }
    fi
fi
for tool in nginx wrk curl python3 taskset openssl; do
    command -v "$tool" >/dev/null || { log "$tool is missing"; exit 1; }
done
TESSALY=$BUILD/tessaly
if [[ ! -x $TESSALY ]]; then
    log "building Tessaly (Release) in $BUILD"
    cmake -S "$TOP" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >&2 &&
        cmake --build "$BUILD" --target tessaly -j "$(nproc)" >&2 || { log "build failed"; exit 1; }
fi
"$HERE/make-data.sh" "$DATA" >&2 || exit 1

RUN=$(mktemp -d /tmp/tessaly-bench.XXXXXX)
RESULTS=$RUN/results.tsv
: > "$RESULTS"
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do
        [[ -d /proc/$pid ]] && kill "$pid" 2>/dev/null
    done
    for pid in "${PIDS[@]}"; do
        for _ in $(seq 40); do [[ -d /proc/$pid ]] || break; sleep 0.25; done
        [[ -d /proc/$pid ]] && kill -9 "$pid" 2>/dev/null
    done
    rm -f "$DATA/bench-put.bin" "$DATA/bench-form.bin"
    rm -rf "$RUN"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ------------------------------------------------------------------ servers
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=localhost -days 30 \
    -keyout "$RUN/key.pem" -out "$RUN/cert.pem" 2>/dev/null
cat "$RUN/cert.pem" "$RUN/key.pem" > "$RUN/tessaly.pem"

port_free() { ! ss -Hltn "sport = :$1" 2>/dev/null | grep -q .; }
free_port() {  # a free port above $1
    local p=$1
    while ! port_free "$p"; do p=$((p + 1)); done
    echo "$p"
}

# start_tessaly NAME [--https]: sets TESSALY_URL and TESSALY_PID
start_tessaly() {
    local name=$1; shift
    local home=$RUN/home-$name
    mkdir -p "$home"
    HOME=$home XDG_RUNTIME_DIR=$home "${SPIN[@]}" "$TESSALY" --headless --share "$DATA" \
        --address 127.0.0.1 --port 0 --key-file "$RUN/tessaly.pem" --key-password "" "$@" \
        > "$RUN/$name.out" 2> "$RUN/$name.err" &
    TESSALY_PID=$!
    PIDS+=("$TESSALY_PID")
    TESSALY_URL=""
    for _ in $(seq 100); do
        TESSALY_URL=$(head -1 "$RUN/$name.out" 2>/dev/null)
        [[ -n $TESSALY_URL ]] && break
        [[ -d /proc/$TESSALY_PID ]] || break
        sleep 0.1
    done
    TESSALY_URL=${TESSALY_URL%/}
    [[ -n $TESSALY_URL ]] || { log "tessaly $name did not start:"; cat "$RUN/$name.err" >&2; exit 1; }
}

stop_pid() {
    local pid=$1
    kill "$pid" 2>/dev/null
    for _ in $(seq 40); do [[ -d /proc/$pid ]] || break; sleep 0.25; done
    [[ -d /proc/$pid ]] && kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

NGINX_HTTP=$(free_port 18180)
NGINX_HTTPS=$(free_port $((NGINX_HTTP + 1)))
mkdir -p "$RUN/nginx/tmp"
NGINX_USER=; [[ $(id -u) -eq 0 ]] && NGINX_USER="user root;"
cat > "$RUN/nginx/nginx.conf" <<NGINX
load_module /usr/lib/nginx/modules/ngx_http_dav_ext_module.so;
daemon off; master_process on; worker_processes 1; $NGINX_USER
worker_rlimit_nofile $FILES;
pid $RUN/nginx/nginx.pid; error_log $RUN/nginx/error.log warn;
events { worker_connections $NGINX_CONNECTIONS; }
http {
    include /etc/nginx/mime.types; default_type application/octet-stream;
    access_log off; sendfile on; tcp_nopush on;
    keepalive_requests 100000; keepalive_timeout 75s;
    client_body_temp_path $RUN/nginx/tmp; proxy_temp_path $RUN/nginx/tmp;
    fastcgi_temp_path $RUN/nginx/tmp; uwsgi_temp_path $RUN/nginx/tmp; scgi_temp_path $RUN/nginx/tmp;
    dav_ext_lock_zone zone=bench:10m;
    ssl_certificate $RUN/cert.pem; ssl_certificate_key $RUN/key.pem;
    server {
        listen 127.0.0.1:$NGINX_HTTP;
        listen 127.0.0.1:$NGINX_HTTPS ssl;
        root $DATA; autoindex on;
        dav_methods PUT DELETE MKCOL COPY MOVE; dav_ext_methods PROPFIND OPTIONS LOCK UNLOCK;
        dav_ext_lock zone=bench; create_full_put_path on; dav_access user:rw group:rw all:r;
        client_max_body_size 0;
    }
}
NGINX
"${SPIN[@]}" nginx -p "$RUN/nginx" -c "$RUN/nginx/nginx.conf" > "$RUN/nginx/out.log" 2>&1 &
NGINX_PID=$!
PIDS+=("$NGINX_PID")
for _ in $(seq 80); do
    [[ $("${CURL[@]}" -o /dev/null -w '%{http_code}' "http://127.0.0.1:$NGINX_HTTP/small.bin") == 200 ]] && break
    [[ -d /proc/$NGINX_PID ]] || { log "nginx did not start:"; cat "$RUN/nginx/error.log" "$RUN/nginx/out.log" >&2; exit 1; }
    sleep 0.25
done

start_tessaly http
T_HTTP=$TESSALY_URL; T_HTTP_PID=$TESSALY_PID
start_tessaly https --https
T_HTTPS=$TESSALY_URL; T_HTTPS_PID=$TESSALY_PID
[[ $T_HTTPS == https:* ]] || { log "the HTTPS server speaks plain HTTP: $T_HTTPS"; exit 1; }
N_HTTP=http://127.0.0.1:$NGINX_HTTP
N_HTTPS=https://127.0.0.1:$NGINX_HTTPS
log "tessaly $T_HTTP (pid $T_HTTP_PID), $T_HTTPS (pid $T_HTTPS_PID); nginx $N_HTTP $N_HTTPS (pid $NGINX_PID)"

# ------------------------------------------------------------------ measuring
CHECKS=$RUN/checks.txt
: > "$CHECKS"
record() { printf '%s\t%s\t%s\n' "$1" "$2" "$3" >> "$RESULTS"; }  # record KEY SERVER VALUE
problem() { grep -qxF "$*" "$CHECKS" || echo "$*" >> "$CHECKS"; log "check: $*"; }
to_ms() {
    awk -v v="$1" 'BEGIN{ n = v + 0; if (v ~ /us$/) n /= 1000; else if (v ~ /ms$/) n = n;
        else if (v ~ /m$/) n *= 60000; else if (v ~ /s$/) n *= 1000; print n }'
}
# wrk_run KEY SERVER CONNS DUR SCRIPT URL [wrk options]: records KEY (req/s) and KEY.p99 (ms)
wrk_run() {
    local key=$1 server=$2 conns=$3 dur=$4 script=$5 url=$6; shift 6
    local out rps p99 non err
    out=$("${CPIN[@]}" wrk -t2 -c"$conns" -d"$dur"s --timeout 10s --latency -s "$script" "$@" "$url" 2>&1)
    rps=$(awk '/^Requests\/sec:/{print $2}' <<<"$out")
    p99=$(awk '$1=="99%"{print $2}' <<<"$out")
    non=$(awk '/Non-2xx or 3xx responses:/{print $NF}' <<<"$out")
    err=$(awk -F'[ ,]+' '/Socket errors:/{print $4+$6+$8+$10}' <<<"$out")
    if (( ${non:-0} + ${err:-0} > 0 )) || [[ -z $rps ]]; then
        problem "$key $server: ${non:-0} non-2xx answers, ${err:-0} socket errors"
    fi
    [[ -n $rps ]] && record "$key" "$server" "$rps"
    [[ -n $p99 ]] && record "$key.p99" "$server" "$(to_ms "$p99")"
}

w1() {  # w1 KEY SERVER URL
    local code size speed
    read -r code size speed < <("${CURL[@]}" -k -o /dev/null \
        -w '%{http_code} %{size_download} %{speed_download}\n' "$3/big.bin")
    [[ $code == 200 && $size == 1073741824 ]] || problem "$1 $2: answered $code with $size bytes"
    record "$1" "$2" "$(awk -v s="$speed" 'BEGIN{print s / 1e6}')"
}

rss_kib() { awk '/^VmRSS:/{print $2}' "/proc/$1/status" 2>/dev/null; }
w10() {  # w10 URL PID: the 100 files of zip100/ as one archive
    local code size speed length before sampler peak
    length=$(python3 - "$DATA/zip100" <<'PY'
import os, sys
d = sys.argv[1]
names = sorted(os.listdir(d))
# Stored entries: local header (30 + name + 9), data, descriptor (16); central record (46 + name + 9); end (22).
print(sum(30 + len(n) + 9 + os.path.getsize(os.path.join(d, n)) + 16 + 46 + len(n) + 9 for n in names) + 22)
PY
)
    before=$(rss_kib "$2")
    echo "$before" > "$RUN/w10.peak"
    (
        peak=$before
        while [[ -d /proc/$2 ]]; do
            r=$(rss_kib "$2")
            if [[ -n $r ]] && ((r > peak)); then peak=$r; echo "$peak" > "$RUN/w10.peak"; fi
            sleep 0.05
        done
    ) &
    sampler=$!
    read -r code size speed < <("${CURL[@]}" -o /dev/null -w '%{http_code} %{size_download} %{speed_download}\n' \
        "$1/zip100/?a=zip")
    kill "$sampler" 2>/dev/null
    wait "$sampler" 2>/dev/null
    peak=$(cat "$RUN/w10.peak")
    [[ $code == 200 && $size == "$length" ]] || problem "W10: answered $code with $size bytes, not $length"
    record W10 tessaly "$(awk -v s="$speed" 'BEGIN{print s / 1e6}')"
    record W10.rss tessaly "$(awk -v a="$before" -v b="$peak" 'BEGIN{print (b - a) / 1024}')"
}

PF_BODY='<?xml version="1.0" encoding="utf-8"?><D:propfind xmlns:D="DAV:"><D:allprop/></D:propfind>'
w4b() {  # w4b SERVER URL
    local code t n
    read -r code t < <("${CURL[@]}" -X PROPFIND -H 'Depth: 1' -H 'Content-Type: application/xml' \
        --data "$PF_BODY" -o "$RUN/pf.xml" -w '%{http_code} %{time_total}\n' "$2/dir10000/")
    n=$(grep -o -E '<([A-Za-z0-9_]+:)?response[ >]' "$RUN/pf.xml" | wc -l)
    [[ $code == 207 && $n -ge 10000 ]] || problem "W4b $1: answered $code with $n responses"
    record W4b "$1" "$(awk -v t="$t" 'BEGIN{print t * 1000}')"
}

UPLOAD=$RUN/up256.bin
head -c $((256 * 1024 * 1024)) /dev/zero | openssl enc -aes-128-ctr -nosalt -K "$(printf '%032x' 3)" \
    -iv 00000000000000000000000000000000 2>/dev/null > "$UPLOAD"
w5() {  # w5 SERVER URL
    local code speed
    "${CURL[@]}" -o /dev/null -X DELETE "$2/bench-put.bin"
    sync
    read -r code speed < <("${CURL[@]}" -o /dev/null -T "$UPLOAD" -w '%{http_code} %{speed_upload}\n' \
        "$2/bench-put.bin")
    [[ $code == 201 || $code == 204 || $code == 200 ]] || problem "W5 $1: PUT answered $code"
    [[ $(stat -c %s "$DATA/bench-put.bin" 2>/dev/null) == 268435456 ]] || problem "W5 $1: stored file has the wrong size"
    record W5 "$1" "$(awk -v s="$speed" 'BEGIN{print s / 1e6}')"
    "${CURL[@]}" -o /dev/null -X DELETE "$2/bench-put.bin"
}
w5c() {  # w5c SERVER URL: W5's PUT in chunks
    local code speed
    "${CURL[@]}" -o /dev/null -X DELETE "$2/bench-put.bin"
    sync
    read -r code speed < <("${CURL[@]}" -o /dev/null -T "$UPLOAD" -H 'Transfer-Encoding: chunked' \
        -H "X-Expected-Entity-Length: $(stat -c %s "$UPLOAD")" -w '%{http_code} %{speed_upload}\n' "$2/bench-put.bin")
    [[ $code == 201 || $code == 204 || $code == 200 ]] || problem "W5c $1: PUT answered $code"
    [[ $(stat -c %s "$DATA/bench-put.bin" 2>/dev/null) == 268435456 ]] || problem "W5c $1: stored file has the wrong size"
    record W5c "$1" "$(awk -v s="$speed" 'BEGIN{print s / 1e6}')"
    "${CURL[@]}" -o /dev/null -X DELETE "$2/bench-put.bin"
}
w5form() {  # w5form URL (Tessaly's upload form)
    local code speed
    "${CURL[@]}" -o /dev/null -X DELETE "$1/bench-form.bin"
    sync
    read -r code speed < <("${CURL[@]}" -o "$RUN/form.html" -F "f=@$UPLOAD;filename=bench-form.bin" \
        -w '%{http_code} %{speed_upload}\n' "$1/")
    grep -q 'File sent success' "$RUN/form.html" || problem "W5form: the page does not say the file arrived ($code)"
    [[ $(stat -c %s "$DATA/bench-form.bin" 2>/dev/null) == 268435456 ]] || problem "W5form: stored file has the wrong size"
    record W5form tessaly "$(awk -v s="$speed" 'BEGIN{print s / 1e6}')"
    "${CURL[@]}" -o /dev/null -X DELETE "$1/bench-form.bin"
}

w6() {  # w6 KEY SERVER URL PID COUNT
    local n=$5 opened alive before after
    read -r opened alive before after < <("${CPIN[@]}" python3 "$HERE/client.py" idle "$3/small.bin" "$n" 5 "$4")
    ((opened == n && alive == n)) || problem "$1 $2: $opened of $n opened, $alive still open"
    record "$1" "$2" "$(awk -v a="$before" -v b="$after" -v n="$n" 'BEGIN{print (b - a) / n}')"
    record "$1.before" "$2" "$(awk -v a="$before" 'BEGIN{print a / 1024}')"
    record "$1.after" "$2" "$(awk -v a="$after" 'BEGIN{print a / 1024}')"
}

# w8 SERVER URL PID: W2's load without and with W8_IDLE idle connections held, then on
# W8_ACTIVE connections.
w8() {
    local server=$1 url=$2 pid=$3 out=$RUN/hold.out holder word opened before with alive
    wrk_run W8.base "$server" 32 "$W2_DUR" "$HERE/lua/get.lua" "$url/small.bin"
    "${CPIN[@]}" python3 "$HERE/client.py" hold "$url/small.bin" "$W8_IDLE" 900 "$pid" > "$out" 2> "$RUN/hold.err" &
    holder=$!
    PIDS+=("$holder")
    for _ in $(seq 1800); do
        [[ -s $out ]] && break
        [[ -d /proc/$holder ]] || break
        sleep 0.25
    done
    read -r word opened before with < "$out"
    if [[ $word == ready ]] && ((opened == W8_IDLE)); then
        wrk_run W8 "$server" 32 "$W2_DUR" "$HERE/lua/get.lua" "$url/small.bin"
        record W8.rss "$server" "$(awk -v a="$before" -v b="$with" -v n="$W8_IDLE" 'BEGIN{print (b - a) / n}')"
        # The share of the load kept with the idle connections held, in this round.
        record W8.share "$server" "$(awk -F'\t' -v s="$server" '$2 == s && $1 == "W8.base" {b = $3} $2 == s && $1 == "W8" {w = $3}
            END{ if (b > 0 && w > 0) print w / b }' "$RESULTS")"
    else
        problem "W8 $server: ${opened:-no} of $W8_IDLE idle connections opened $(tail -1 "$RUN/hold.err" 2>/dev/null)"
    fi
    kill -TERM "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null
    read -r word alive < <(sed -n 2p "$out")
    [[ $word != alive ]] || ((alive == W8_IDLE)) || problem "W8 $server: $alive of $W8_IDLE idle connections still open after the load"
    wrk_run W8c "$server" "$W8_ACTIVE" "$W2_DUR" "$HERE/lua/get.lua" "$url/small.bin"
}

# w7 ID FOLDER: the thumbnails of the 50 photos of FOLDER, on a fresh server.
w7() {
    local id=$1 folder=$2 ms requests made
    start_tessaly w7
    read -r ms requests made < <("${CPIN[@]}" python3 "$HERE/client.py" thumbs "$TESSALY_URL/$folder/" 50 120)
    stop_pid "$TESSALY_PID"
    rm -rf "$RUN/home-w7"
    [[ $made == 50 ]] || problem "$id: the finished page shows $made thumbnails, not 50"
    [[ $ms == nan ]] && { problem "$id: no 200 within 120 s"; return; }
    record "$id" tessaly "$(awk -v m="$ms" 'BEGIN{print m / 50}')"
    record "$id.total" tessaly "$ms"
    record "$id.requests" tessaly "$requests"
}

# The page size of a Tessaly session set to 1000: a cookie whose session shows all of dir1000/.
session_cookie() {
    local url=$1 cookie
    cookie=$("${CPIN[@]}" python3 "$HERE/client.py" pagesize "$url/dir1000/" 1000)
    "${CURL[@]}" -o "$RUN/all.html" -H "Cookie: $cookie" "$url/dir1000/"
    grep -q 'f0999\.txt' "$RUN/all.html" || problem "W3all: the page does not list all 1000 entries"
    echo "$cookie"
}

check_listings() {
    "${CURL[@]}" -o "$RUN/t3.html" "$T_HTTP/dir1000/"
    "${CURL[@]}" -o "$RUN/n3.html" "$N_HTTP/dir1000/"
    grep -q 'f0000\.txt' "$RUN/t3.html" || problem "W3 tessaly: f0000.txt is not on the page"
    grep -q 'f0999\.txt' "$RUN/n3.html" || problem "W3 nginx: f0999.txt is not on the page"
}

uptime_load() { awk '{print $1}' /proc/loadavg; }
# Per round: the workloads in order, each on both servers back to back.
round() {
    local r=$1 order
    if ((r % 2)); then order="tessaly nginx"; else order="nginx tessaly"; fi
    local s
    if want W1 || want W10; then
        for s in $order; do
            if [[ $s == tessaly ]]; then w1 W1 tessaly "$T_HTTP"; w1 W1s tessaly "$T_HTTPS"
            else w1 W1 nginx "$N_HTTP"; w1 W1s nginx "$N_HTTPS"; fi
        done
    fi
    want W10 && w10 "$T_HTTP" "$T_HTTP_PID"
    if want W2; then
        for s in $order; do
            if [[ $s == tessaly ]]; then wrk_run W2 tessaly 32 "$W2_DUR" "$HERE/lua/get.lua" "$T_HTTP/small.bin"
            else wrk_run W2 nginx 32 "$W2_DUR" "$HERE/lua/get.lua" "$N_HTTP/small.bin"; fi
        done
    fi
    if want W3; then
        for s in $order; do
            if [[ $s == tessaly ]]; then
                wrk_run W3 tessaly 8 "$W3_DUR" "$HERE/lua/get.lua" "$T_HTTP/dir1000/"
                wrk_run W3all tessaly 8 "$W3_DUR" "$HERE/lua/get.lua" "$T_HTTP/dir1000/" -H "Cookie: $COOKIE"
            else
                wrk_run W3 nginx 8 "$W3_DUR" "$HERE/lua/get.lua" "$N_HTTP/dir1000/"
                record W3all nginx "$(awk -F'\t' -v r="$r" '$1=="W3" && $2=="nginx" {v=$3} END{print v}' "$RESULTS")"
            fi
        done
    fi
    if want W4; then
        for s in $order; do
            if [[ $s == tessaly ]]; then
                wrk_run W4a tessaly 8 "$W3_DUR" "$HERE/lua/propfind.lua" "$T_HTTP/dir1000/"; w4b tessaly "$T_HTTP"
            else
                wrk_run W4a nginx 8 "$W3_DUR" "$HERE/lua/propfind.lua" "$N_HTTP/dir1000/"; w4b nginx "$N_HTTP"
            fi
        done
    fi
    if want W5; then
        for s in $order; do
            if [[ $s == tessaly ]]; then w5 tessaly "$T_HTTP"; w5form "$T_HTTP"
            else w5 nginx "$N_HTTP"; record W5form nginx "$(awk -F'\t' '$1=="W5" && $2=="nginx" {v=$3} END{print v}' "$RESULTS")"; fi
        done
    fi
    if want W5c; then
        for s in $order; do
            if [[ $s == tessaly ]]; then w5c tessaly "$T_HTTP"; else w5c nginx "$N_HTTP"; fi
        done
    fi
    if want W6; then
        for s in $order; do
            if [[ $s == tessaly ]]; then
                # A fresh server each time: one that served the other workloads has free heap
                # left over, which new connections would take without growing.
                start_tessaly w6; w6 W6 tessaly "$TESSALY_URL" "$TESSALY_PID" 200; stop_pid "$TESSALY_PID"
                start_tessaly w6s --https; w6 W6s tessaly "$TESSALY_URL" "$TESSALY_PID" 200; stop_pid "$TESSALY_PID"
                start_tessaly w6k; w6 W6k tessaly "$TESSALY_URL" "$TESSALY_PID" 2000; stop_pid "$TESSALY_PID"
                start_tessaly w6ks --https; w6 W6ks tessaly "$TESSALY_URL" "$TESSALY_PID" 2000; stop_pid "$TESSALY_PID"
            else
                w6 W6 nginx "$N_HTTP" "$NGINX_PID" 200; w6 W6s nginx "$N_HTTPS" "$NGINX_PID" 200
                w6 W6k nginx "$N_HTTP" "$NGINX_PID" 2000; w6 W6ks nginx "$N_HTTPS" "$NGINX_PID" 2000
            fi
        done
    fi
    # Both sets back to back, in alternating order: the same minutes of the machine for both.
    if want W7; then
        if ((r % 2)); then w7 W7 photos; w7 W7p photos-preview; else w7 W7p photos-preview; w7 W7 photos; fi
    fi
    if want W8; then
        for s in $order; do
            if [[ $s == tessaly ]]; then w8 tessaly "$T_HTTP" "$T_HTTP_PID"; else w8 nginx "$N_HTTP" "$NGINX_PID"; fi
        done
    fi
}

check_listings
want W3 && COOKIE=$(session_cookie "$T_HTTP")
LOADS=()
START=$(date +%s)
for r in $(seq "$RUNS"); do
    LOADS+=("$(uptime_load)")
    log "round $r of $RUNS (load average $(uptime_load))"
    round "$r"
done
LOADS+=("$(uptime_load)")
ELAPSED=$(( $(date +%s) - START ))

# ------------------------------------------------------------------ the table
cat <<HEAD
### Tessaly against nginx — $(date -u +%F), $(nproc) CPUs, $(. /etc/os-release; echo "$PRETTY_NAME")

Command: \`bench/run.sh$( ((QUICK)) && echo ' --quick' || echo " --runs $RUNS")$( [[ -n $ONLY ]] && echo " --only $ONLY")\` ($ELAPSED s).
Servers on CPU $SERVER_CPU, clients on CPU $CLIENT_CPU; Tessaly $(git -C "$TOP" describe --always --dirty 2>/dev/null || echo '?'),
nginx $(nginx -v 2>&1 | sed 's|.*/||'). Load average (1 min) at the start of each round: ${LOADS[*]}.
Cell: median of $RUNS rounds (min–max). Ratio: Tessaly median / nginx median.

| id | workload (unit) | Tessaly | nginx | Tessaly / nginx | goal |
|---|---|---:|---:|---:|---|
HEAD
awk -F'\t' '
    function fmt(x) { if (x == "") return "–"; x += 0; if (x >= 100) return sprintf("%.0f", x);
                      if (x >= 10) return sprintf("%.1f", x); return sprintf("%.2f", x) }
    function stats(k, s,    n, i, j, t, a) {
        n = cnt[k, s]; if (n == 0) { med = ""; lo = ""; hi = ""; return }
        for (i = 1; i <= n; i++) a[i] = val[k, s, i]
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        med = (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2; lo = a[1]; hi = a[n]
    }
    function cell(k, s) { stats(k, s); if (med == "") return "–"; if (lo == hi) return fmt(med);
                          return fmt(med) " (" fmt(lo) "–" fmt(hi) ")" }
    function row(id, k, label, goal, kind,    t, n, ratio, ok) {
        if (!((k, "tessaly") in cnt) && !((k, "nginx") in cnt)) return
        stats(k, "tessaly"); t = med; stats(k, "nginx"); n = med
        # Absolute goals (memory per connection, time per photo) have no ratio to show.
        ratio = (kind != "abs" && kind != "absmin" && t != "" && n != "" && n > 0) ? sprintf("%.2f", t / n) : "–"
        ok = ""
        if (kind == "min" && ratio != "–") ok = (t / n >= goalv[id]) ? " ✔" : " ✘"
        if (kind == "max" && ratio != "–") ok = (t / n <= goalv[id]) ? " ✔" : " ✘"
        if (kind == "abs" && t != "") ok = (t <= goalv[id]) ? " ✔" : " ✘"
        if (kind == "absmin" && t != "") ok = (t >= goalv[id]) ? " ✔" : " ✘"
        printf "| %s | %s | %s | %s | %s | %s%s |\n", id, label, cell(k, "tessaly"), cell(k, "nginx"), ratio, goal, ok
    }
    { key = $1; srv = $2; cnt[key, srv]++; val[key, srv, cnt[key, srv]] = $3 + 0 }
    END {
        goalv["W1"] = 0.8; goalv["W1s"] = 0.9; goalv["W2"] = 1; goalv["W2p99"] = 1; goalv["W3"] = 1
        goalv["W3all"] = 1; goalv["W4a"] = 1; goalv["W4b"] = 1; goalv["W5"] = 1; goalv["W5form"] = 1; goalv["W5c"] = 1
        goalv["W6"] = 8; goalv["W6s"] = 24; goalv["W6k"] = 8; goalv["W6ks"] = 24; goalv["W7"] = 13.2; goalv["W7p"] = 1
        goalv["W10"] = 0.5
        goalv["W8"] = 1; goalv["W8p99"] = 1; goalv["W8share"] = 0.9; goalv["W8c"] = 1; goalv["W8cp99"] = 1
        row("W1", "W1", "1 GiB download over HTTP (MB/s)", "≥ 0.8", "min")
        row("W1s", "W1s", "1 GiB download over HTTPS (MB/s)", "≥ 0.9", "min")
        row("W2", "W2", "4 KiB GET, 32 keep-alive connections (req/s)", "≥ 1.0", "min")
        row("W2p99", "W2.p99", "4 KiB GET, p99 latency (ms)", "≤ 1.0", "max")
        row("W3", "W3", "folder page of 1000 files, first page (req/s)", "≥ 1.0", "min")
        row("W3all", "W3all", "folder page of 1000 files, all on one page (req/s)", "≥ 1.0", "min")
        row("W4a", "W4a", "PROPFIND Depth 1, 1000 entries (req/s)", "≥ 1.0", "min")
        row("W4b", "W4b", "PROPFIND Depth 1, 10000 entries (ms)", "≤ 1.0", "max")
        row("W5", "W5", "PUT 256 MiB (MB/s)", "≥ 1.0", "min")
        row("W5form", "W5form", "upload form 256 MiB (MB/s; nginx: its PUT)", "≥ 1.0", "min")
        row("W5c", "W5c", "PUT 256 MiB in chunks (MB/s)", "≥ 1.0", "min")
        row("W6", "W6", "RSS per idle keep-alive connection, HTTP (KiB)", "≤ 8 KiB", "abs")
        row("W6s", "W6s", "RSS per idle keep-alive connection, HTTPS (KiB)", "≤ 24 KiB", "abs")
        row("W6k", "W6k", "RSS per idle keep-alive connection, 2,000 of them, HTTP (KiB)", "≤ 8 KiB", "abs")
        row("W6ks", "W6ks", "RSS per idle keep-alive connection, 2,000 of them, HTTPS (KiB)", "≤ 24 KiB", "abs")
        row("W7", "W7", "thumbnails of 50 photos of 12 MP until 200 OK (ms per photo)", "≤ 13.2 ms", "abs")
        row("W7p", "W7p", "the same photos with a preview in their EXIF block (ms per photo)", "≤ 1 ms", "abs")
        row("W8", "W8", "4 KiB GET, 32 connections, 10,000 idle ones held (req/s)", "≥ 1.0", "min")
        row("W8p99", "W8.p99", "the same, p99 latency (ms)", "≤ 1.0", "max")
        row("W8share", "W8.share", "the same, share of the load kept with the 10,000 held", "≥ 0.9", "absmin")
        row("W8c", "W8c", "4 KiB GET, 1,000 active keep-alive connections (req/s)", "≥ 1.0", "min")
        row("W8cp99", "W8c.p99", "the same, p99 latency (ms)", "≤ 1.0", "max")
        row("W10", "W10", "1 GiB in 100 files as one ZIP, Tessaly only (MB/s)", "≥ 0.5 of W1", "none")
        printf "\n"
        stats("W10", "tessaly"); tz = med; stats("W1", "tessaly"); tw = med; stats("W10.rss", "tessaly"); tr = med
        if (tz != "" && tw != "") printf "W10 against W1, Tessaly, this run: %.2f (goal ≥ 0.5); the server grew by %s MiB during the download.\n", tz / tw, fmt(tr)
        stats("W6.before", "tessaly"); tb = med; stats("W6.after", "tessaly"); ta = med
        stats("W6.before", "nginx"); nb = med; stats("W6.after", "nginx"); na = med
        if (tb != "") printf "W6 RSS, HTTP, before → with 200 idle connections (MiB): Tessaly %s → %s, nginx %s → %s.\n", fmt(tb), fmt(ta), fmt(nb), fmt(na)
        stats("W6k.before", "tessaly"); tb = med; stats("W6k.after", "tessaly"); ta = med
        stats("W6k.before", "nginx"); nb = med; stats("W6k.after", "nginx"); na = med
        if (tb != "") printf "W6 RSS, HTTP, before → with 2,000 idle connections (MiB): Tessaly %s → %s, nginx %s → %s.\n", fmt(tb), fmt(ta), fmt(nb), fmt(na)
        stats("W5c", "tessaly"); tc = med; stats("W5", "tessaly"); tw = med
        if (tc != "" && tw != "") printf "W5c against W5, Tessaly, this run: %.2f (goal ≥ 0.9).\n", tc / tw
        stats("W8.base", "tessaly"); tb = med; stats("W8.base", "nginx"); nb = med
        stats("W8.rss", "tessaly"); ta = med; stats("W8.rss", "nginx"); na = med
        if (tb != "") printf "W8: the same load without the idle connections, just before (req/s): Tessaly %s, nginx %s; RSS per held idle connection (KiB): Tessaly %s, nginx %s.\n", fmt(tb), fmt(nb), fmt(ta), fmt(na)
        stats("W7.total", "tessaly"); if (med != "") { printf "W7: %s ms in all for 50 photos", fmt(med); stats("W7.requests", "tessaly"); printf " (%s page requests while waiting).\n", fmt(med) }
        stats("W7p.total", "tessaly"); if (med != "") { printf "W7p: %s ms in all for 50 photos", fmt(med); stats("W7p.requests", "tessaly"); printf " (%s page requests while waiting).\n", fmt(med) }
    }' "$RESULTS"
if [[ -s $CHECKS ]]; then
    echo
    echo "Checks that failed:"
    sed 's/^/- /' "$CHECKS"
fi
