#!/usr/bin/env bash
# Terminal-started sends and receives through the real service, against
# center_standin (a center that answers without decoding, so the service's
# own cost shows), each next to the reference pipeline on the same file in
# the same run:
#   compressed send     gzip -6 | base64   + md5sum
#   plain send          base64             + md5sum
#   compressed receive  base64 -d | gunzip + md5sum
#   plain receive       base64 -d          + md5sum
# For every case, a fresh service: wall time of the call, the service's CPU
# time (/proc/PID/stat), its peak memory (VmHWM) and the peak size of its
# temporary folders (polled: the configured one and its system one). Then
# 100 compressed sends at once; 200 small sends one after the other (p50,
# p99); ParallelGzip against gzip -6 and pigz -6 on each kind of file, and
# its one-pass send body (MD5, deflate, Base64) against the pipeline.
# Every reference runs before and after the measured program; the tables
# show the mean of the two.
#
# Usage: bench/transfer.sh [build-folder] [size-in-MiB ...]
#        (default ./build, sizes 10 200 1000; builds what is missing)
# Files (bench_data, the same bytes on every machine) are half random bytes,
# half business records, in 1 MiB stretches.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10 200 1000)
concurrent=100
concurrentMb=10
sequential=200
smallBytes=1024
. "$top/scripts/lib/stack.sh"

for tool in gzip gunzip base64 md5sum python3 dbus-daemon dbus-send; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
needed=(plserv PLlog center_standin transfer_driver gzip_bench bench_data)
for target in "${needed[@]}"; do
  if [ ! -e "$build/bin/$target" ] && [ ! -e "$build/bin/lib$target.so" ]; then
    cmake --build "$build" --target "${needed[@]}" >/dev/null
    break
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/plx-transfer.XXXXXX")
poller=
trap '[ -n "$poller" ] && kill "$poller" 2>/dev/null; plx_stack_stop; rm -rf "$work"' EXIT
results="$work/results.tsv"
: > "$results"
ticks=$(getconf CLK_TCK)

# make_file PATH MIB [mixed|records|random]
make_file() {
  "$build/bin/bench_data" "${3:-mixed}" "$2" > "$1"
}

# The tools the references ran with.
echo "references: $(command -v gzip) ($(gzip --version | head -n 1)), $(command -v pigz || echo 'no pigz')" \
  "($(pigz --version 2>&1 | head -n 1)), $(command -v base64), $(command -v md5sum)" \
  "($(base64 --version | head -n 1))" > "$work/tools.txt"

# measure COMMAND: "wall_ms cpu_ms" of a shell command line and its children.
measure() {
  python3 - "$1" <<'PY'
import resource, subprocess, sys, time
before = resource.getrusage(resource.RUSAGE_CHILDREN)
start = time.monotonic()
subprocess.run(["bash", "-c", "set -o pipefail; " + sys.argv[1]], check=True)
wall = (time.monotonic() - start) * 1000
after = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000
print(f"{wall:.0f} {cpu:.0f}")
PY
}

# mean "W1 C1" "W2 C2": the mean wall and CPU of two measures.
mean() {
  local w1 c1 w2 c2
  read -r w1 c1 <<< "$1"
  read -r w2 c2 <<< "$2"
  echo "$(((w1 + w2) / 2)) $(((c1 + c2) / 2))"
}

# CPU milliseconds a process has used so far.
cpu_ms() {
  awk -v t="$ticks" '{ print int(($14 + $15) * 1000 / t) }' "/proc/$1/stat"
}

status_kb() { # status_kb PID FIELD
  awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/status"
}

# poll_size OUT FOLDER...: polls the total size of the files in the folders
# every 10 ms until killed, then writes the largest seen to OUT;
# OUT.ready shows it has begun.
poll_size() {
  exec python3 - "$@" <<'PY'
import os, signal, sys, time
out, folders = sys.argv[1], sys.argv[2:]
peak = 0
def stop(*_):
    with open(out, "w") as f:
        f.write(f"{peak}\n")
    sys.exit(0)
signal.signal(signal.SIGTERM, stop)
with open(out + ".ready", "w"):
    pass
while True:
    total = 0
    for folder in folders:
        for root, _, files in os.walk(folder):
            for name in files:
                try:
                    total += os.stat(os.path.join(root, name)).st_size
                except OSError:
                    pass
    peak = max(peak, total)
    time.sleep(0.01)
PY
}

# start_case NAME [center_standin delivery arguments...]: a fresh bus,
# stand-in and service, set up; sets CASE_DIR. With KEEP_BODIES=1 the
# stand-in keeps the PutFile bodies.
start_case() {
  CASE_DIR="$work/case-$1"
  shift
  mkdir -p "$CASE_DIR/inbox" "$CASE_DIR/keep"
  local keep=()
  [ "${KEEP_BODIES:-0}" = 1 ] && keep=(--keep "$CASE_DIR/keep")
  plx_bus_start "$CASE_DIR"
  "$build/bin/center_standin" --log "$CASE_DIR/center.log" "${keep[@]}" "$@" > "$CASE_DIR/center.started" &
  plx_pids+=("$!")
  CENTER_PID=$!
  CENTER_PORT=$(plx_first_line "$CENTER_PID" "$CASE_DIR/center.started" |
    python3 -c 'import json,sys; print(json.load(sys.stdin)["port"])')
  plx_service_start "$CASE_DIR" > /dev/null
  "$build/bin/transfer_driver" setup "http://127.0.0.1:$CENTER_PORT/" > /dev/null
}

# run_case SIZE_MB CASE FILE_BYTES REFERENCE DRIVER_ARGS...: one measured
# call through the service between two runs of the reference command;
# appends a result row.
run_case() {
  local mb=$1 name=$2 bytes=$3 reference=$4 refBefore refWall refCpu
  shift 4
  refBefore=$(measure "$reference")
  local cpu0 center0 out
  cpu0=$(cpu_ms "$SERVICE_PID")
  center0=$(cpu_ms "$CENTER_PID")
  # The configured temporary folder and the service's system one.
  poll_size "$CASE_DIR/disk.log" "$CASE_DIR/temp" "$CASE_DIR/tmp" &
  poller=$!
  until [ -e "$CASE_DIR/disk.log.ready" ]; do sleep 0.01; done
  out=$("$build/bin/transfer_driver" "$@") || { echo "$name $mb MiB: $out" >&2; exit 1; }
  kill "$poller"
  wait "$poller" 2>/dev/null || true
  poller=
  local cpu1 center1 hwm disk
  cpu1=$(cpu_ms "$SERVICE_PID")
  center1=$(cpu_ms "$CENTER_PID")
  hwm=$(status_kb "$SERVICE_PID" VmHWM)
  disk=$(cat "$CASE_DIR/disk.log")
  read -r refWall refCpu < <(mean "$refBefore" "$(measure "$reference")")
  local wall
  wall=$(printf '%s\n' "$out" | awk '{ print $2 }')
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$mb" "$name" "$bytes" "$wall" "$((cpu1 - cpu0))" \
    "$refWall" "$refCpu" "$hwm" "${disk:-0}" "$((center1 - center0))" >> "$results"
}

# The stand-in's note on the last PutFile must match the file sent.
check_sent() {
  local file=$1 compress=$2 md5 size line
  md5=$(md5sum < "$file" | cut -d' ' -f1)
  size=$(stat -c %s "$file")
  line=$(tail -n 1 "$CASE_DIR/center.log")
  case "$line" in
    *"Length=$size CompressFlag=$compress MD5=$md5 "*) ;;
    *) echo "the center saw a different file: $line" >&2; exit 1 ;;
  esac
  if [ "$compress" = 0 ]; then
    case "$line" in *" entity=$(( (size + 2) / 3 * 4 )) "*) ;; *) echo "wrong Entity length: $line" >&2; exit 1 ;; esac
  fi
  local kept=${line##*kept=}
  if [ "$kept" != "-" ]; then # decode what was kept, off the clock
    if [ "$compress" = 1 ]; then
      base64 -d < "$kept" | gunzip | cmp -s - "$file" || { echo "the center's copy differs" >&2; exit 1; }
    else
      base64 -d < "$kept" | cmp -s - "$file" || { echo "the center's copy differs" >&2; exit 1; }
    fi
    rm -f "$kept"
  fi
}

# send_case MB LABEL KIND COMPRESS FILE REFERENCE: the reference (plus
# md5sum) and one PLSendData, checked at the center.
send_case() {
  local mb=$1 label=$2 kind=$3 compress=$4 file=$5 reference=$6
  start_case "send-$label-$mb"
  run_case "$mb" "send $label" "$(stat -c %s "$file")" "$reference; md5sum '$file' > /dev/null" send "$kind" "$file"
  check_sent "$file" "$compress"
  plx_stack_stop
}

# receive_case MB LABEL KIND COMPRESS FILE ENTITY DECODER: the decoder into a
# file (plus md5sum) and one PLRecvData of ENTITY, compared with FILE.
receive_case() {
  local mb=$1 label=$2 kind=$3 compress=$4 file=$5 entity=$6 decoder=$7 out="$work/ref.out"
  start_case "recv-$label-$mb" --entity "$entity" --length "$(stat -c %s "$file")" \
    --md5 "$(md5sum < "$file" | cut -d' ' -f1)" --compress "$compress"
  run_case "$mb" "receive $label" "$(stat -c %s "$file")" "$decoder > '$out'; md5sum '$out' > /dev/null" \
    recv "$kind" "$CASE_DIR/inbox"
  rm -f "$out"
  cmp -s "$file" "$CASE_DIR/inbox/delivery.dat" || { echo "the received file differs" >&2; exit 1; }
  plx_stack_stop
  rm -rf "$CASE_DIR/inbox"
}

for mb in "${sizes[@]}"; do
  echo "== $mb MiB" >&2
  file="$work/data-$mb.dat"
  make_file "$file" "$mb"
  gz64="$work/data-$mb.gz.b64"
  plain64="$work/data-$mb.b64"
  gzip -6 -c "$file" | base64 -w0 > "$gz64"
  base64 -w0 "$file" > "$plain64"

  # Small sizes: the center keeps the bodies, decoded afterwards.
  KEEP_BODIES=0
  [ "$mb" -le 10 ] && KEEP_BODIES=1

  send_case "$mb" gzip GZ01 1 "$file" "gzip -6 -c '$file' | base64 -w0 > /dev/null"
  send_case "$mb" plain PL01 0 "$file" "base64 -w0 '$file' > /dev/null"
  receive_case "$mb" gzip GZ01 1 "$file" "$gz64" "base64 -d < '$gz64' | gunzip"
  receive_case "$mb" plain PL01 0 "$file" "$plain64" "base64 -d < '$plain64'"
  KEEP_BODIES=0
  rm -rf "$work"/case-* "$gz64" "$plain64"
  # The concurrent sends and the compression comparison reuse two sizes.
  [ "$mb" = "$concurrentMb" ] || [ "$mb" = 200 ] || rm -f "$file"
done

echo "== $concurrent compressed sends at once" >&2
file="$work/data-$concurrentMb.dat"
[ -f "$file" ] || make_file "$file" "$concurrentMb"
start_case "many"
sleep 1
before=$(status_kb "$SERVICE_PID" VmRSS)
manyOut=$("$build/bin/transfer_driver" sendmany GZ01 "$file" "$concurrent") || true
peak=$(status_kb "$SERVICE_PID" VmHWM)
sleep 2
after=$(status_kb "$SERVICE_PID" VmRSS)
sentOk=$(grep -c "^put .*CompressFlag=1" "$CASE_DIR/center.log" || true)
plx_stack_stop

echo "== $sequential sends of $smallBytes bytes one after the other" >&2
small="$work/small.dat"
make_file "$work/small.src" 1 records
head -c "$smallBytes" "$work/small.src" > "$small"
seqOut=()
for kind in GZ01 PL01; do
  start_case "seq-$kind"
  seqOut+=("$("$build/bin/transfer_driver" sendseq "$kind" "$small" "$sequential" || true)")
  plx_stack_stop
done

# micro_case LABEL FILE: the references before and after ParallelGzip (the
# mean goes in the table), each output checked against the file.
micro="$work/micro.tsv"
: > "$micro"
sameBytes=yes
micro_case() {
  local label=$1 gzfile=$2 tool cmd wall cpu
  declare -A firstRun=()
  for tool in "gzip -6" "pigz -6" "gzip_bench" "gzip_bench 1" "pigz -6" "gzip -6"; do
    case "$tool" in
      pigz*) command -v pigz >/dev/null || continue; cmd="pigz -6 -c < '$gzfile'" ;;
      gzip_bench*) cmd="'$build/bin/gzip_bench' ${tool#gzip_bench} < '$gzfile'" ;;
      *) cmd="$tool -c < '$gzfile'" ;;
    esac
    read -r wall cpu < <(measure "$cmd > '$work/micro.gz'")
    gunzip -c "$work/micro.gz" | cmp -s - "$gzfile" || { echo "$tool: the output does not expand to the file" >&2; exit 1; }
    if [ -z "${firstRun[$tool]:-}" ] && [ "${tool%% *}" != gzip_bench ]; then
      firstRun[$tool]="$wall $cpu"
      continue
    fi
    [ "${tool%% *}" = gzip_bench ] || read -r wall cpu < <(mean "${firstRun[$tool]}" "$wall $cpu")
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$label" "$(stat -c %s "$gzfile")" "$tool" "$wall" "$cpu" \
      "$(stat -c %s "$work/micro.gz")" >> "$micro"
    [ "$tool" = "gzip_bench" ] && mv "$work/micro.gz" "$work/micro-all.gz"
    [ "$tool" = "gzip_bench 1" ] && { cmp -s "$work/micro.gz" "$work/micro-all.gz" || sameBytes=NO; }
  done
  rm -f "$work/micro.gz" "$work/micro-all.gz"
}

echo "== ParallelGzip against gzip -6 and pigz -6" >&2
gzfile="$work/data-200.dat"
[ -f "$gzfile" ] || make_file "$gzfile" 200
micro_case mixed "$gzfile"
make_file "$work/records.dat" 100 records
micro_case records "$work/records.dat"
rm -f "$work/records.dat"
make_file "$work/random.dat" 50 random
micro_case random "$work/random.dat"
rm -f "$work/random.dat"

# The building blocks of a one-pass compressed send: the file read once for
# MD5 and deflate, the gzip stream Base64-encoded as it comes.
pass="$work/pass.tsv"
: > "$pass"
passRef="gzip -6 -c '$gzfile' | base64 -w0 > /dev/null; md5sum '$gzfile' > /dev/null"
refBefore=$(measure "$passRef")
read -r wall cpu < <(measure "'$build/bin/gzip_bench' --send < '$gzfile' > '$work/pass.b64' 2> '$work/pass.md5'")
read -r refWall refCpu < <(mean "$refBefore" "$(measure "$passRef")")
printf 'gzip -6 | base64 + md5sum\t%s\t%s\n' "$refWall" "$refCpu" >> "$pass"
printf 'gzip_bench --send\t%s\t%s\n' "$wall" "$cpu" >> "$pass"
base64 -d < "$work/pass.b64" | gunzip | cmp -s - "$gzfile" || { echo "gzip_bench --send: wrong output" >&2; exit 1; }
[ "$(cat "$work/pass.md5")" = "$(md5sum < "$gzfile" | cut -d' ' -f1)" ] || { echo "gzip_bench --send: wrong MD5" >&2; exit 1; }
rm -f "$work/pass.b64"

cat "$work/tools.txt"
python3 - "$results" "$micro" "$pass" "$concurrent" "$concurrentMb" "${manyOut:-failed}" "$before" "$peak" \
  "$after" "$sentOk" "$sameBytes" "$(nproc)" "$sequential" "$smallBytes" "${seqOut[0]:-failed}" "${seqOut[1]:-failed}" <<'PY'
import sys
(results, micro, one_pass, n, n_mb, many, before, peak, after, sent_ok, same, cpus,
 seq_n, seq_bytes, seq_gzip, seq_plain) = sys.argv[1:17]
rows = [line.rstrip("\n").split("\t") for line in open(results) if line.strip()]
print(f"Transfers through plserv against center_standin, {cpus} processors; ratio = plserv / reference")
print("(each reference: the mean of a run before and a run after the measured call)")
print()
head = (f"{'size':>6} {'case':<14} {'wall ms':>8} {'ref ms':>8} {'wall x':>7} {'cpu ms':>8} {'ref cpu':>8} "
        f"{'cpu x':>6} {'peak MB':>8} {'tmp MB':>8} {'tmp x':>6} {'center':>7}")
print(head)
print("-" * len(head))
for mb, case, size, wall, cpu, rwall, rcpu, hwm, disk, center in rows:
    size, wall, cpu, rwall, rcpu = int(size), int(wall), int(cpu), int(rwall), int(rcpu)
    ratio = lambda a, b: f"{a / b:.2f}" if b > 0 else "-"
    print(f"{mb + ' M':>6} {case:<14} {wall:>8} {rwall:>8} {ratio(wall, rwall):>7} {cpu:>8} {rcpu:>8} "
          f"{ratio(cpu, rcpu):>6} {int(hwm) / 1024:>8.1f} {int(disk) / 1e6:>8.1f} {int(disk) / size:>6.2f} "
          f"{center:>7}")
print()
print("wall ms: the call as the application sees it; cpu ms: the service's user+system time;")
print("peak MB: VmHWM of a fresh service; tmp: peak size of its temporary folders (x the file);")
print("center: center_standin's CPU ms. References write receives to a file, sends to /dev/null.")
print()
parts = many.split()
print(f"{n} compressed sends of {n_mb} MiB at once: {parts[0] if parts else 'failed'}"
      f" in {parts[1] if len(parts) > 1 else '-'} ms, {parts[2] if len(parts) > 2 else '-'} succeeded,"
      f" {sent_ok} bodies reached the center")
print(f"  service memory: before {int(before) / 1024:.1f} MB, peak {int(peak) / 1024:.1f} MB,"
      f" after {int(after) / 1024:.1f} MB")
print()
print(f"{seq_n} sends of {seq_bytes} bytes one after the other, one Transport (goal: p50 <= 10 ms, p99 <= 20 ms)")
print(f"{'kind':<8} {'total ms':>9} {'p50 ms':>8} {'p99 ms':>8}")
for kind, out in (("gzip", seq_gzip), ("plain", seq_plain)):
    p = out.split()
    if len(p) == 4 and p[0] == "ok":
        print(f"{kind:<8} {int(p[1]):>9} {float(p[2]):>8.1f} {float(p[3]):>8.1f}")
    else:
        print(f"{kind:<8} {out}")
print()
print("ParallelGzip (gzip_bench: shared pool; gzip_bench 1: one worker) against gzip -6 and pigz -6;")
print("speed-up: gzip -6's wall time / the tool's; references: mean of a run before and one after")
mrows = [line.rstrip("\n").split("\t") for line in open(micro) if line.strip()]
print(f"{'file':<14} {'tool':<14} {'wall ms':>8} {'cpu ms':>8} {'size MB':>8} {'speed-up':>9} {'/pigz':>6}")
for label in dict.fromkeys(r[0] for r in mrows):
    order = ["gzip -6", "pigz -6", "gzip_bench", "gzip_bench 1"]
    sel = sorted((r for r in mrows if r[0] == label), key=lambda r: order.index(r[2]))
    ref = next((int(r[3]) for r in sel if r[2] == "gzip -6"), 0)
    pigz = next((int(r[3]) for r in sel if r[2] == "pigz -6"), 0)
    for _, size, tool, wall, cpu, out in sel:
        wall = int(wall)
        speed = ref / wall if wall > 0 and ref else 0
        of_pigz = f"{pigz / wall:.2f}" if pigz and wall else "-"
        name = f"{label} {int(size) / 1048576:.0f}M"
        print(f"{name:<14} {tool:<14} {wall:>8} {int(cpu):>8} {int(out) / 1e6:>8.2f} {speed:>9.2f} {of_pigz:>6}")
print(f"same bytes with one worker and with all: {same}")
print()
print("One pass of a compressed send's body (MD5, deflate, Base64), the mixed file:")
prows = [line.rstrip("\n").split("\t") for line in open(one_pass) if line.strip()]
pref = int(prows[0][1])
print(f"{'work':<26} {'wall ms':>8} {'cpu ms':>8} {'speed-up':>9}")
for work, wall, cpu in prows:
    print(f"{work:<26} {int(wall):>8} {int(cpu):>8} {pref / max(int(wall), 1):>9.2f}")
PY
