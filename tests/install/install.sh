#!/usr/bin/env bash
# Installs the build as a package would and runs what was installed, on loopback.
#   install.sh prefix BUILD   cmake --install into a temporary prefix, then serve from there
#   install.sh deb BUILD      cpack -G DEB, check the package, unpack it and serve from there
#   install.sh files BUILD    validate the installed desktop entry, AppStream metainfo and unit
# Exit 77 when a tool the mode needs is not installed.
set -euo pipefail

mode=${1:?usage: install.sh prefix|deb|files BUILD}
build=${2:?usage: install.sh prefix|deb|files BUILD}
appid=org.kestrune.tessaly

. "$(dirname "$0")/../testlib.sh"

skip_without() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
}
# quietly COMMAND...: runs COMMAND, showing its output only when it fails
quietly() { "$@" > "$work/command.log" 2>&1 || { cat "$work/command.log"; return 1; }; }

# serve ROOT: the program installed under ROOT serves files and its pictures,
# and HTTPS with the key pair it makes for the user.
serve() {
    local root=$1
    rm -rf "$work/share" "$work/home"
    mkdir -p "$work/share" "$work/home"
    echo "contents of a" > "$work/share/a.txt"
    export HOME=$work/home

    start_server "$root/bin/tessaly" --share "$work/share"
    check "the installed program prints its URL" grep -q '^http://127\.0\.0\.1:[0-9]*/$' <<< "$url"
    check "  serves a file" test "$(curl -sS --max-time 10 "${url}a.txt")" = "contents of a"
    curl -sS --max-time 10 -o "$work/folder.png" "${url}_i/folder.png" || true
    check "  serves its pictures from share/tessaly/img/" cmp -s "$work/folder.png" "$root/share/tessaly/img/folder.png"
    check "  ends on SIGTERM with exit code 0" stop_server

    start_server "$root/bin/tessaly" --share "$work/share" --https
    check "  serves a file over HTTPS" test "$(curl -sS -k --max-time 10 "${url}a.txt")" = "contents of a"
    check "  with the user's own key pair, mode 600" test "$(stat -c %a "$HOME/.kestrune/ssl.pem")" = 600
    check "  ends on SIGTERM with exit code 0" stop_server
    [ "$failures" -eq 0 ] || { echo "--- server errors"; cat "$work/server.err"; }
}

# layout ROOT PREFIX: the installed files under ROOT, for a program that runs from PREFIX
layout() {
    local root=$1 prefix=$2
    check "bin/tessaly is installed" test -x "$root/bin/tessaly"
    check "the data is in share/tessaly/" test -f "$root/share/tessaly/img/folder.png" -a \
        -f "$root/share/tessaly/lang/C/lang.qm" -a -f "$root/share/tessaly/lang/C/login.html"
    check "no key pair and no translation source is installed" test -z "$(find "$root" -name '*.pem' -o -name '*.ts')"
    check "nothing next to the program" test "$(ls "$root/bin")" = tessaly
    check "the desktop entry" test -f "$root/share/applications/$appid.desktop"
    check "the icons of the menu" test -f "$root/share/icons/hicolor/48x48/apps/$appid.png" -a \
        -f "$root/share/icons/hicolor/256x256/apps/$appid.png"
    check "the AppStream metainfo" test -f "$root/share/metainfo/$appid.metainfo.xml"
    local unit=$root/lib/systemd/user/tessaly.service
    check "the systemd user unit" test -f "$unit"
    check "  starts the installed program" grep -qx "ExecStart=$prefix/bin/tessaly --headless --share %h/Public" "$unit"
}

case $mode in
prefix)
    prefix=$work/prefix
    check "cmake --install into a temporary prefix" quietly cmake --install "$build" --prefix "$prefix"
    layout "$prefix" "$prefix"
    serve "$prefix"
    ;;
deb)
    skip_without cpack dpkg-deb dpkg-shlibdeps
    check "cpack makes a .deb" quietly cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg"
    deb=$(find "$work/pkg" -maxdepth 1 -name 'tessaly_*.deb' | head -n 1)
    [ -n "$deb" ] || { echo "FAIL  no tessaly_*.deb"; exit 1; }
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "$(basename "$deb"), Depends: $depends"
    for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libssl3; do
        check "  depends on $lib" grep -qxF "$lib" < <(tr ',' '\n' <<< "$depends" | sed 's/^ *//; s/ .*//')
    done
    check "  for this architecture" test "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)"
    dpkg-deb -x "$deb" "$work/root"
    layout "$work/root/usr" /usr
    check "  the program is stripped" sh -c "! readelf -S '$work/root/usr/bin/tessaly' | grep -q '\.debug_info'"
    serve "$work/root/usr"
    ;;
files)
    skip_without appstreamcli desktop-file-validate systemd-analyze
    quietly cmake --install "$build" --prefix "$work/prefix"
    mkdir -p "$work/runtime"
    chmod 700 "$work/runtime"
    check "the systemd user unit is valid and names an executable program" \
        env XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify "$work/prefix/lib/systemd/user/tessaly.service"
    check "the desktop entry is valid" desktop-file-validate "$work/prefix/share/applications/$appid.desktop"
    check "  names the installed icon" grep -qx "Icon=$appid" "$work/prefix/share/applications/$appid.desktop"
    check "the AppStream metainfo is valid" appstreamcli validate --no-net --pedantic --explain \
        "$work/prefix/share/metainfo/$appid.metainfo.xml"
    ;;
*)
    echo "unknown mode $mode"
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
