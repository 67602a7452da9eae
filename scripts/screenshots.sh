#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb: the window (docs/window-simple.png,
# docs/window-expert.png), the QR code of a server's URL (docs/qr-code.png), the settings dialog
# (docs/settings.png), the look and feel dialog (docs/look-and-feel.png) and the help page
# (docs/help.png); with an OUTPUT FOLDER also the profile dialog (profiles.png).
# Usage: scripts/screenshots.sh [BUILD FOLDER [FONT SIZE [OUTPUT FOLDER]]]
# A FONT SIZE (points) shows the program as the look and feel settings make it; OUTPUT FOLDER
# (default docs/) takes the pictures.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
font_size=${2:-}
out=${3:-$here/docs}
cmake --build "$build" --target tessaly_showcase >/dev/null
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A folder worth sharing.
share=$work/Music
mkdir -p "$share/Concerts"
for f in "Morning.ogg" "Evening.ogg" "Liner notes.txt"; do
    head -c 40000 /dev/zero > "$share/$f"
done

shoot() {
    local mode=$1 picture=$2 home=$work/home-$1
    mkdir -p "$home"
    if [ -n "$font_size" ]; then
        mkdir -p "$home/.config/Tessaly"
        printf '[General]\nstyle=fusion\nFsize=%s\n' "$font_size" > "$home/.config/Tessaly/Tessaly.conf"
    fi
    xvfb-run -a -s "-screen 0 800x600x24" bash -c '
        HOME="$1" "$2" "$3" "$4" > "$1/ready" 2> "$1/log" &
        pid=$!
        for _ in $(seq 100); do
            grep -q "^ready" "$1/ready" 2>/dev/null && break
            sleep 0.2
        done
        geometry=$(sed -n "s/^ready //p" "$1/ready")
        [ -n "$geometry" ] && import -window root -crop "$geometry" "$5"
        kill "$pid"
        wait "$pid" 2>/dev/null || true
        [ -n "$geometry" ]
    ' shoot "$home" "$build/tessaly_showcase" "$mode" "$share" "$picture" || {
        cat "$home/log" >&2
        return 1
    }
    echo "$picture"
}

mkdir -p "$out"
shoot simple "$out/window-simple.png"
shoot expert "$out/window-expert.png"
shoot qr "$out/qr-code.png"
shoot settings "$out/settings.png"
shoot look "$out/look-and-feel.png"
shoot help "$out/help.png"
if [ "$out" != "$here/docs" ]; then
    shoot profiles "$out/profiles.png"
fi
