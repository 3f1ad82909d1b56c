#!/bin/bash
# Times lumtar side by side with dd (an in-place copy that does no work) and
# with the block-by-block reference, on one page-cached file, and prints the
# medians and the ratios to dd as a Markdown table. lumtar runs twice: as it
# is, and held to one core with taskset.
#
# Usage: bench/compare.sh [build-dir] [size-in-MiB] [runs]
#   defaults: build/release 1024 5; the file lives in /dev/shm.
# Needs GNU time (/usr/bin/time) for the peak memory column.
# The programs' standard error is the script's: run it on a terminal to
# time lumtar with its progress line, or with 2>/dev/null to time it without.
set -euo pipefail

build=${1:-build/release}
size_mib=${2:-1024}
runs=${3:-5}
lumtar=$build/tool/lumtar
reference=$build/bench/lumtar_reference
for program in "$lumtar" "$reference"; do
    [[ -x $program ]] || { echo "missing $program: build the release preset first" >&2; exit 1; }
done

file=$(mktemp -p /dev/shm lumtar-bench.XXXXXX)
trap 'rm -f "$file" "$file.mem"' EXIT
head -c $((size_mib << 20)) /dev/urandom >"$file"

declare -A times peak
# Runs one command, appends its wall time in nanoseconds and keeps its peak
# resident memory in KiB.
run() {
    local name=$1 start end kib
    shift
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$file.mem" "$@" >/dev/null
    end=$(date +%s%N)
    kib=$(tail -n 1 "$file.mem")
    times[$name]+="$((end - start)) "
    ((kib > ${peak[$name]:-0})) && peak[$name]=$kib
    return 0
}

for ((i = 0; i < runs; i++)); do
    run dd dd if="$file" of="$file" bs=1M conv=notrunc status=none
    run lumtar "$lumtar" "bench key" "$file"
    run "lumtar, one core" taskset -c 0 "$lumtar" "bench key" "$file"
    run reference "$reference" "bench key" "$file"
done

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

dd_ns=$(median <<<"${times[dd]}")
echo "File: ${size_mib} MiB in /dev/shm, $runs runs each, medians; $(nproc) cores."
echo
echo "| program | median time | throughput | ratio to dd | peak memory |"
echo "|---|---:|---:|---:|---:|"
for name in dd lumtar "lumtar, one core" reference; do
    ns=$(median <<<"${times[$name]}")
    awk -v name="$name" -v ns="$ns" -v dd="$dd_ns" -v mib="$size_mib" -v kib="${peak[$name]}" 'BEGIN {
        printf "| %s | %.3f s | %.0f MiB/s | %.2f | %.1f MiB |\n", name, ns / 1e9, mib / (ns / 1e9), dd / ns, kib / 1024
    }'
done
