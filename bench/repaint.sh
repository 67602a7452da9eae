#!/usr/bin/env bash
# bench/repaint.sh — how long a repaint of the window waits while its server feeds downloads.
#
#   bench/repaint.sh [--build DIR] [--clients N] [--seconds S] [--size MiB]
#
# Builds tessaly_repaint_bench in DIR (default build/ of this tree) and runs it under Xvfb (the
# offscreen platform when Xvfb is missing): one server on 127.0.0.1 in the window, N clients
# (default 32) on a thread of their own, each downloading a file of the given size (default
# 64 MiB) again and again; a repaint of the whole window is asked for every 20 ms. Prints median,
# p99 and the longest wait, idle and under load. Loopback only.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
if [ "${1:-}" = "--build" ]; then build=$2; shift 2; fi
cmake --build "$build" --target tessaly_repaint_bench >/dev/null
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
if command -v xvfb-run >/dev/null; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$build/tessaly_repaint_bench" "$@"
fi
QT_QPA_PLATFORM=offscreen exec "$build/tessaly_repaint_bench" "$@"
