#!/usr/bin/env bash
# End-to-end send and receive through the service and the center simulator
# on loopback, for a 10 MB and a 200 MB file: throughput next to
# `gzip -6 | base64` on the same file, and the service's peak memory.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
. "$top/scripts/lib/stack.sh"

plx_ensure_built
work=$(mktemp -d /tmp/plxbench.XXXXXX)
trap 'plx_stack_stop; rm -rf "$work"' EXIT

make_file() { # half random, half text, like real business data
  local path=$1 mb=$2
  : > "$path"
  for _ in $(seq $((mb / 2))); do
    head -c 1048576 /dev/urandom >> "$path"
    (yes "2024-01-01,record,000123,ACME,42.00" || true) | head -c 1048576 >> "$path"
  done
}

printf '%-8s %12s %12s %14s %8s %14s\n' size "send MB/s" "recv MB/s" "gzip|b64 MB/s" ratio "service peak"
for mb in 10 200; do
  run="$work/$mb"
  mkdir -p "$run/user" "$run/inbox"
  make_file "$run/user/data.dat" "$mb"
  cp "$run/user/data.dat" "$run/deliver.dat"
  plx_stack_start "$run" "$run/deliver.dat"
  out=$("$build/bin/plxdemo" "http://127.0.0.1:$CENTER_PORT/" "$run/user/data.dat" "$run/inbox")
  peak=$(awk '/VmHWM/ {print $2 " " $3}' "/proc/$SERVICE_PID/status")
  plx_stack_stop
  plx_pids=()
  send_ms=$(printf '%s\n' "$out" | sed -n 's/^send done in \([0-9]*\) ms.*/\1/p')
  recv_ms=$(printf '%s\n' "$out" | sed -n 's/^receive done in \([0-9]*\) ms.*/\1/p')
  start=$(date +%s%N)
  gzip -6 -c "$run/user/data.dat" | base64 -w0 > /dev/null
  tool_ms=$(( ($(date +%s%N) - start) / 1000000 ))
  python3 - "$mb" "$send_ms" "$recv_ms" "$tool_ms" "$peak" <<'PY'
import sys
mb, send, recv, tool = (float(x) for x in sys.argv[1:5])
rate = lambda ms: mb / (ms / 1000.0) if ms > 0 else float("inf")
print(f"{int(mb)} MB {rate(send):12.1f} {rate(recv):12.1f} {rate(tool):14.1f} {rate(send)/rate(tool):8.2f} {sys.argv[5]:>14}")
PY
  rm -rf "$run"
done
echo "ratio: send throughput over gzip -6 | base64 alone on the same file (the send also hashes, copies and posts it)."
