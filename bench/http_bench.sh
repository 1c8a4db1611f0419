#!/usr/bin/env bash
# Requests per second of the event-loop HTTP hello server (examples/http_hello.c) against its
# raw epoll peer (bench/http_hello_peer.cpp), both loaded by wrk over 127.0.0.1 with keep-alive
# connections at 50, 200 and 1,000 connections. Runs alternate ours, peer, peer, ours at each
# count and the better run of each counts, so that drift on a shared machine hits both alike.
# Beside the rates, the default output gives each server's processor time per request (user
# plus system, from /proc), which a busy machine disturbs less than the rates.
#
# Usage: bench/http_bench.sh [--table] [--seconds N] [BUILD_DIR]   (BUILD_DIR: build-bench)
#   The servers are BUILD_DIR/{examples,bench}/http_hello and BUILD_DIR/bench/http_hello_peer,
#   or $HTTP_HELLO and $HTTP_HELLO_PEER when set.
#   Default output: one line per count with both rates, their ratio, each server's processor
#   microseconds per request and wrk's error count.
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

# Starts server $1 on a system-chosen port, remembered as $2; sets port_$2 and pid_$2. Runs in
# this shell (not a subshell), so that the exit trap knows every server it has to stop.
start() {
    local out="$dir/$2.out"
    "$1" 0 >"$out" &
    pids+=($!)
    printf -v "pid_$2" '%s' "$!"
    for _ in $(seq 200); do
        grep -q '^listening on ' "$out" && break
        sleep 0.05
    done
    printf -v "port_$2" '%s' "$(sed -n 's/^listening on //p' "$out")"
}

# Processor time of process $1 so far, in clock ticks (user plus system).
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# One wrk run against port $1 with $2 connections, served by process $3; prints
# "RATE ERRORS TICKS", TICKS being the server's processor time during the run.
load() {
    local report before
    before="$(ticks "$3")"
    report="$(wrk -t1 -c"$2" -d"${seconds}s" --timeout 5s "http://127.0.0.1:$1/" 2>&1)"
    local rate errors
    rate="$(sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' <<<"$report")"
    errors="$(sed -n 's/.*Socket errors: connect \([0-9]*\), read \([0-9]*\), write \([0-9]*\), timeout \([0-9]*\).*/\1 \2 \3 \4/p;s/.*Non-2xx or 3xx responses: \([0-9]*\).*/\1/p' <<<"$report" |
        tr ' ' '\n' | awk '{ n += $1 } END { print n + 0 }')"
    echo "${rate:-0} $errors $(($(ticks "$3") - before))"
}

start "$ours" ours
start "$peer" peer
hz="$(getconf CLK_TCK)"
[ -n "$port_ours" ] && [ -n "$port_peer" ] || { echo "http_bench: a server did not start" >&2; exit 1; }

failed=0
for conns in 50 200 1000; do
    best_ours=0 best_peer=0 errors=0
    declare -A cpu=([ours]=0 [peer]=0) served=([ours]=0 [peer]=0)
    for who in ours peer peer ours; do
        port="$port_ours" pid="$pid_ours"
        [ "$who" = peer ] && port="$port_peer" pid="$pid_peer"
        read -r rate errs used <<<"$(load "$port" "$conns" "$pid")"
        errors=$((errors + errs))
        cpu[$who]=$((cpu[$who] + used))
        served[$who]="$(awk -v a="${served[$who]}" -v r="$rate" -v s="$seconds" 'BEGIN { print a + r * s }')"
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
        per_request() { awk -v t="${cpu[$1]}" -v n="${served[$1]}" -v hz="$hz" 'BEGIN { print (n > 0) ? t * 1e6 / hz / n : 0 }'; }
        printf '%5d connections: ours %7.0f req/s  raw epoll %7.0f req/s  ratio %.3f  cpu/request %.2f vs %.2f us  errors %d\n' \
            "$conns" "$best_ours" "$best_peer" \
            "$(awk -v a="$best_ours" -v b="$best_peer" 'BEGIN { print (b > 0) ? a / b : 0 }')" \
            "$(per_request ours)" "$(per_request peer)" "$errors"
    fi
done
exit "$failed"
