#!/usr/bin/env bash
# Compares the file codecs with the system tools on the same 200 MB file and
# shows that codec_bench's peak memory does not grow with the file.
#
# Usage: bench/codecs.sh [build-folder]   (default ./build; builds nothing)
# Rates are MB/s (10^6 bytes) of the plain file for every operation.
set -euo pipefail

build=${1:-./build}
bench="$build/bin/codec_bench"
if [ ! -x "$bench" ]; then
    echo "codec_bench not found at $bench: build the project first" >&2
    exit 1
fi
for tool in base64 gzip gunzip md5sum python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/plx-codecs.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Test data: 1 MiB of random bytes (incompressible) then 1 MiB of log-like
# text (compressible), a hundred times.
text="$work/text.chunk"
awk 'BEGIN { for (i = 0; i < 20000; i++)
    printf "2024-05-01 12:%02d:%02d.%03d INFO transfer id=%d block=%d status=ok\n",
           int(i / 60) % 60, i % 60, i % 1000, i, (i * 7) % 100003 }' > "$text"
truncate -s 1048576 "$text"
big="$work/data.bin"
for _ in $(seq 100); do
    head -c 1048576 /dev/urandom
    cat "$text"
done > "$big"
small="$work/small.bin"
head -c 10485760 "$big" > "$small"
size=$(stat -c %s "$big")

echo "codec_bench on $((size / 1000000)) MB ..." >&2
PLX_BENCH_FILE="$big" /usr/bin/time -f %M -o "$work/rss-big" \
    "$bench" --benchmark_format=json > "$work/bench.json"
PLX_BENCH_FILE="$small" /usr/bin/time -f %M -o "$work/rss-small" \
    "$bench" --benchmark_format=json > /dev/null

# Wall-clock milliseconds of a shell command line.
millis() {
    local start end
    start=$(date +%s%N)
    bash -c "$1"
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
}

echo "system tools on the same file ..." >&2
declare -A toolMs
toolMs[encodeFileBase64]=$(millis "base64 -w0 '$big' > '$work/tool.b64'")
toolMs[decodeFileBase64]=$(millis "base64 -d '$work/tool.b64' > '$work/tool.out'")
toolMs[gzipFile]=$(millis "gzip -6 -c '$big' > '$work/tool.gz'")
toolMs[gunzipFile]=$(millis "gunzip -c '$work/tool.gz' > '$work/tool.out'")
toolMs[getFileMD5]=$(millis "md5sum '$big' > /dev/null")
rm -f "$work/tool.b64" "$work/tool.out" "$work/tool.gz"

tools="encodeFileBase64=base64 -w0
decodeFileBase64=base64 -d
gzipFile=gzip -6
gunzipFile=gunzip
getFileMD5=md5sum"

python3 - "$work/bench.json" "$size" "$tools" \
    "${toolMs[encodeFileBase64]}" "${toolMs[decodeFileBase64]}" "${toolMs[gzipFile]}" \
    "${toolMs[gunzipFile]}" "${toolMs[getFileMD5]}" <<'EOF'
import json, sys
report, size, tools = sys.argv[1], int(sys.argv[2]), sys.argv[3]
names = [line.split("=", 1) for line in tools.splitlines()]
millis = dict(zip((n for n, _ in names), map(int, sys.argv[4:])))
ours = {}
for b in json.load(open(report))["benchmarks"]:
    if "bytes_per_second" in b and not b.get("error_occurred"):
        ours[b["name"].split("/")[0]] = b["bytes_per_second"] / 1e6
print(f"{'operation':<18} {'tool':<12} {'ours MB/s':>10} {'tool MB/s':>10} {'ratio':>7}")
for name, tool in names:
    theirs = size / 1e6 / max(millis[name], 1) * 1000
    mine = ours.get(name)
    if mine is None:
        print(f"{name:<18} {tool:<12} {'failed':>10} {theirs:10.1f} {'-':>7}")
    else:
        print(f"{name:<18} {tool:<12} {mine:10.1f} {theirs:10.1f} {mine / theirs:7.2f}")
EOF

echo
echo "codec_bench peak RSS: $(( $(cat "$work/rss-small") / 1024 )) MiB for 10 MiB," \
     "$(( $(cat "$work/rss-big") / 1024 )) MiB for $((size / 1048576)) MiB"
