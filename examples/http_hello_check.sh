#!/usr/bin/env bash
# Starts the hello server on a system-chosen port and sends two requests over one connection:
# the first split inside its closing empty line, the second in the same packet as the first's
# end. Both answers must arrive complete. Every wait is bounded.
set -euo pipefail
server="$1"
dir="$(mktemp -d)"
"$server" 0 >"$dir/out" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$dir"' EXIT

for _ in $(seq 200); do
    grep -q '^listening on ' "$dir/out" && break
    sleep 0.05
done
port="$(sed -n 's/^listening on //p' "$dir/out")"
[ -n "$port" ] || { echo "the server did not start"; exit 1; }

answer='HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 13\r\n\r\nHello, World!'
printf "$answer$answer" >"$dir/want"
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r' >&3
sleep 0.1
printf '\nGET /again HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n' >&3
timeout 5 head -c "$(wc -c <"$dir/want")" <&3 >"$dir/got" || true
exec 3<&-
if ! cmp -s "$dir/want" "$dir/got"; then
    echo "unexpected answer:"
    od -c "$dir/got" | head -20
    exit 1
fi
echo "two keep-alive requests answered"
