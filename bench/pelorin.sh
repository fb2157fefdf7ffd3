#!/usr/bin/env bash
# Pelorin's re-display over a year of daily logs (365 days, 3,000 sessions a
# day, as bench/logreader.sh): the time from the click on 再表示 to a filled,
# painted list and the peak memory, next to the reader alone and to
# `awk -F, '{n+=NF} END {print n}'` over the same files in the same run
# (before and after the two, taking the mean);
# then the list and the detail view scrolled from top to bottom, counting
# the bytes the program reads meanwhile (/proc/self/io rchar). Goal: under 2 s and at most 1.2x awk,
# peak memory under 3x the files' size, and no reading while scrolling.
#
# Usage: bench/pelorin.sh [build-folder] [log-folder]
#   build-folder  default ./build (builds nothing)
#   log-folder    default $PLX_BENCH_LOGS, else $TMPDIR/plx-logyear; made on
#                 the first run and reused by later ones
set -euo pipefail

build=${1:-./build}
logs=${2:-${PLX_BENCH_LOGS:-${TMPDIR:-/tmp}/plx-logyear}}
gen="$build/bin/logyear_gen"
bench="$build/bin/pelorin_bench"
for program in "$gen" "$bench"; do
    [ -x "$program" ] || { echo "$(basename "$program") not found at $program: build the project first" >&2; exit 1; }
done
for tool in awk /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

echo "logs in $logs ..." >&2
"$gen" "$logs"
first=2023/01/01
last=2023/12/31

work=$(mktemp -d "${TMPDIR:-/tmp}/plx-pelorin.XXXXXX")
trap 'rm -rf "$work"' EXIT
files=("$logs"/session/plsession*.log "$logs"/api/plapi*.log)
bytes=$(cat "${files[@]}" | wc -c) # also brings every file into the page cache

awk_ms() {
    local start end
    start=$(date +%s%N)
    awk -F, '{n+=NF} END {print n}' "${files[@]}" > /dev/null
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
}

export QT_QPA_PLATFORM=offscreen PLX_BENCH_LOGS="$logs"
echo "awk ..." >&2
awkBefore=$(awk_ms)
echo "reader alone ..." >&2
/usr/bin/time -f %M -o "$work/rss-reader" "$bench" reader "$first" "$last" > "$work/reader" 2>/dev/null
echo "Pelorin ..." >&2
/usr/bin/time -f %M -o "$work/rss-window" "$bench" window "$first" "$last" > "$work/window" 2>/dev/null
echo "awk ..." >&2
awkMs=$(( (awkBefore + $(awk_ms)) / 2 ))
echo "awk: $(readlink -f "$(command -v awk)") $(awk -W version 2>/dev/null | head -n 1 || true)"

value() { sed -n "s/^$2=//p" "$work/$1"; }
readerMs=$(value reader load_ms)
fillMs=$(value window fill_ms)
awk -v size="$bytes" -v awkMs="$awkMs" -v readerMs="$readerMs" -v fillMs="$fillMs" \
    -v readerKib="$(cat "$work/rss-reader")" -v windowKib="$(cat "$work/rss-window")" \
    -v fillKib="$(value window fill_peak_rss_kib)" -v sessions="$(value window sessions)" \
    -v detailRows="$(value window detail_rows)" -v detailMs="$(value window detail_switch_ms)" \
    -v listScroll="$(value window list_scroll_ms)" -v detailScroll="$(value window detail_scroll_ms)" \
    -v scrollRead="$(value window scroll_bytes_read)" 'BEGIN {
    mib = 1024 * 1024
    printf "files: %.0f MiB; %d sessions in the list, %d rows in the detail view\n\n", size / mib, sessions, detailRows
    printf "%-34s %10s %8s %8s  %s\n", "", "ms", "/reader", "/awk", "goal"
    printf "%-34s %10d %8.2f %8.2f  < 2000 ms, <= 1.20 of awk\n", "click to a filled list", fillMs, fillMs / readerMs, fillMs / awkMs
    printf "%-34s %10d %8s %8.2f\n", "reader alone (loadLogRecords)", readerMs, "", readerMs / awkMs
    printf "%-34s %10d\n", "awk over the same files (mean)", awkMs
    printf "%-34s %10d\n", "detail view to the front", detailMs
    printf "\n%-34s %10s %8s  %s\n", "", "MiB", "/files", "goal"
    printf "%-34s %10.0f %8.2f  < 3.00\n", "peak RSS, list filled", fillKib / 1024, fillKib * 1024 / size
    printf "%-34s %10.0f %8.2f  < 3.00\n", "peak RSS, detail view shown too", windowKib / 1024, windowKib * 1024 / size
    printf "%-34s %10.0f %8.2f\n", "peak RSS, reader alone", readerKib / 1024, readerKib * 1024 / size
    printf "\nscrolling the list (%d ms) and the detail view (%d ms) top to bottom: %d bytes read in all\n",
        listScroll, detailScroll, scrollRead
    printf "(goal: no log file read; each of Qt\x27s event wake-ups reads 8 bytes from an eventfd)\n"
}'
