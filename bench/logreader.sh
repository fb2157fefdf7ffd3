#!/usr/bin/env bash
# The log viewer's reader over a year of daily logs (365 days, 3,000
# sessions a day: about a million session lines and a million API lines),
# next to `awk -F, '{n+=NF} END {print n}'` over the same files in the same
# run (awk runs before and after the reader; its time is the mean). Goal: at
# most awk's time, peak memory under twice the files' size.
#
# Usage: bench/logreader.sh [build-folder] [log-folder]
#   build-folder  default ./build (builds nothing)
#   log-folder    default $PLX_BENCH_LOGS, else $TMPDIR/plx-logyear; made on
#                 the first run and reused by later ones
set -euo pipefail

build=${1:-./build}
logs=${2:-${PLX_BENCH_LOGS:-${TMPDIR:-/tmp}/plx-logyear}}
gen="$build/bin/logyear_gen"
bench="$build/bin/logreader_bench"
for program in "$gen" "$bench"; do
    if [ ! -x "$program" ]; then
        echo "$(basename "$program") not found at $program: build the project first" >&2
        exit 1
    fi
done
for tool in awk python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

echo "logs in $logs ..." >&2
"$gen" "$logs"

work=$(mktemp -d "${TMPDIR:-/tmp}/plx-logreader.XXXXXX")
trap 'rm -rf "$work"' EXIT

files=("$logs"/session/plsession*.log "$logs"/api/plapi*.log)
bytes=$(cat "${files[@]}" | wc -c) # also brings every file into the page cache
lines=$(cat "${files[@]}" | wc -l)

# awk_ms: one run of awk over the files; sets fields.
awk_ms() {
    local start end
    start=$(date +%s%N)
    fields=$(/usr/bin/time -f %M -o "$work/rss-awk" awk -F, '{n+=NF} END {print n}' "${files[@]}")
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 )) > "$work/awk-ms"
}

echo "awk ..." >&2
awk_ms
awkBefore=$(cat "$work/awk-ms")
echo "loadLogRecords ..." >&2
PLX_BENCH_LOGS="$logs" /usr/bin/time -f %M -o "$work/rss-reader" \
    "$bench" --benchmark_format=json > "$work/bench.json"
echo "awk ..." >&2
awk_ms
awkMs=$(( (awkBefore + $(cat "$work/awk-ms")) / 2 ))
awkVersion=$(awk -W version 2>/dev/null | head -n 1 || true)

python3 - "$work/bench.json" "$bytes" "$lines" "$fields" "$awkMs" \
    "$(cat "$work/rss-reader")" "$(cat "$work/rss-awk")" "$(readlink -f "$(command -v awk)") ${awkVersion:-}" <<'PYEOF'
import json, sys
report, size, lines, fields, awk_ms, reader_kib, awk_kib, awk_path = sys.argv[1:]
size, lines, awk_ms, reader_kib, awk_kib = int(size), int(lines), int(awk_ms), int(reader_kib), int(awk_kib)
run = json.load(open(report))["benchmarks"][0]
if run.get("error_occurred"):
    sys.exit("loadLogRecords failed: " + run.get("error_message", ""))
ms = run["real_time"]
mib = lambda kib: kib / 1024
print(f"files: {lines:,} lines, {size / 2**20:.0f} MiB; awk ({awk_path}) counted {int(fields):,} fields")
print(f"loaded: {int(run['sessions']):,} sessions, {int(run['attached']):,} with their API line")
print()
print(f"{'':<16} {'loadLogRecords':>15} {'awk':>10} {'ratio':>7}  goal")
print(f"{'time ms':<16} {ms:15.0f} {awk_ms:10d} {ms / max(awk_ms, 1):7.2f}  <= 1.00 (of awk; awk: mean of a run before and one after)")
print(f"{'peak RSS MiB':<16} {mib(reader_kib):15.0f} {mib(awk_kib):10.0f} {reader_kib * 1024 / size:7.2f}  <  2.00 (of the files' size)")
PYEOF
