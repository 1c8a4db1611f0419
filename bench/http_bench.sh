#!/usr/bin/env bash
# Requests per second of the event-loop HTTP hello server (examples/http_hello.c) against its
# raw epoll peer (bench/http_hello_peer.cpp), both loaded by wrk over 127.0.0.1 with keep-alive
# connections at 50, 200 and 1,000 connections. Runs alternate ours, peer, peer, ours at each
# count and the better run of each counts, so that drift on a shared machine hits both alike.
#
# Usage: bench/http_bench.sh [--table] [--seconds N] [BUILD_DIR]   (BUILD_DIR: build-bench)
#   The servers are BUILD_DIR/{examples,bench}/http_hello and BUILD_DIR/bench/http_hello_peer,
#   or $HTTP_HELLO and $HTTP_HELLO_PEER when set.
#   Default output: one line per count with both rates, their ratio and wrk's error counts.
#   --table: one line per count, NAME<TAB>ours<TAB>peer<TAB>goal, where ours and peer are
#   requests per second (higher is better) and goal is the least ratio ours/peer, 1.00.
# Exits 1 when a server cannot be started or any run reports errors.
set -euo pipefail

table=0
seconds=3
build=build-bench
while [ $# -gt 0 ]; do
    case "$1" in
        --table) table=1 ;;
        --seconds) seconds="$2"; shift ;;
        *) build="$1" ;;
    esac
    shift
done
ours="${HTTP_HELLO:-}"
if [ -z "$ours" ]; then
    for candidate in "$build/examples/http_hello" "$build/bench/http_hello"; do
        [ -x "$candidate" ] && ours="$candidate" && break
    done
fi
peer="${HTTP_HELLO_PEER:-$build/bench/http_hello_peer}"
for bin in "$ours" "$peer"; do
    [ -n "$bin" ] && [ -x "$bin" ] || { echo "http_bench: server not built: '$bin'" >&2; exit 1; }
done
command -v wrk >/dev/null || { echo "http_bench: wrk is not installed" >&2; exit 1; }

# 1,000 connections need more descriptors than the usual soft limit, on both sides.
ulimit -n "$(ulimit -Hn)"

dir="$(mktemp -d)"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$dir"' EXIT

# Starts server $1 on a system-chosen port; prints the port.
start() {
    local out="$dir/$(basename "$1").out"
    "$1" 0 >"$out" &
    pids+=($!)
    for _ in $(seq 100); do
        grep -q '^listening on ' "$out" && break
        sleep 0.05
    done
    sed -n 's/^listening on //p' "$out"
}

# One wrk run against port $1 with $2 connections; prints "RATE ERRORS".
load() {
    local report
    report="$(wrk -t1 -c"$2" -d"${seconds}s" --timeout 5s "http://127.0.0.1:$1/" 2>&1)"
    local rate errors
    rate="$(sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' <<<"$report")"
    errors="$(sed -n 's/.*Socket errors: connect \([0-9]*\), read \([0-9]*\), write \([0-9]*\), timeout \([0-9]*\).*/\1 \2 \3 \4/p;s/.*Non-2xx or 3xx responses: \([0-9]*\).*/\1/p' <<<"$report" |
        tr ' ' '\n' | awk '{ n += $1 } END { print n + 0 }')"
    echo "${rate:-0} $errors"
}

ours_port="$(start "$ours")"
peer_port="$(start "$peer")"
[ -n "$ours_port" ] && [ -n "$peer_port" ] || { echo "http_bench: a server did not start" >&2; exit 1; }

failed=0
for conns in 50 200 1000; do
    best_ours=0 best_peer=0 errors=0
    for who in ours peer peer ours; do
        port="$ours_port"
        [ "$who" = peer ] && port="$peer_port"
        read -r rate errs <<<"$(load "$port" "$conns")"
        errors=$((errors + errs))
        if [ "$who" = ours ]; then
            best_ours="$(awk -v a="$best_ours" -v b="$rate" 'BEGIN { print (b > a) ? b : a }')"
        else
            best_peer="$(awk -v a="$best_peer" -v b="$rate" 'BEGIN { print (b > a) ? b : a }')"
        fi
    done
    [ "$errors" -eq 0 ] || failed=1
    if [ "$table" -eq 1 ]; then
        printf 'http_hello_c%d\t%.0f\t%.0f\t1.00\n' "$conns" "$best_ours" "$best_peer"
    else
        printf '%5d connections: ours %9.0f req/s  raw epoll %9.0f req/s  ratio %.3f  errors %d\n' \
            "$conns" "$best_ours" "$best_peer" \
            "$(awk -v a="$best_ours" -v b="$best_peer" 'BEGIN { print (b > 0) ? a / b : 0 }')" \
            "$errors"
    fi
done
exit "$failed"
