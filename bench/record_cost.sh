#!/bin/bash
# What the record of an unfinished conversion costs: two builds of lumtar,
# one that keeps it and one that does not, timed in turn on one large file
# and on many small ones, in a directory of the file system to measure.
# The one that keeps it syncs as it goes, the other not: each is timed as
# it runs, and again with a sync of the file system after it, until its
# data is on the disk too. Each run begins with nothing left to sync.
# Prints the medians as a Markdown table.
#
# Usage: bench/record_cost.sh WITH WITHOUT [dir] [size-in-MiB] [small-files] [runs] [small-size-in-KiB]
#   WITH, WITHOUT: the two lumtar binaries; defaults: /tmp 1024 10000 5 4.
set -euo pipefail

with=$1 without=$2 dir=${3:-/tmp} size_mib=${4:-1024} small=${5:-10000} runs=${6:-5} small_kib=${7:-4}
work=$(mktemp -d -p "$dir" lumtar-record-cost.XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c $((size_mib << 20)) /dev/urandom >"$work/large"
mkdir "$work/small"
for ((i = 0; i < small; i++)); do head -c $((small_kib << 10)) /dev/urandom >"$work/small/$i"; done

declare -A times
# Appends the wall time of one run, in nanoseconds, to the named series,
# and with the sync of its files after it to the series "synced".
run() {
    local name=$1 start end
    shift
    sync -f "$work"
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    sync -f "$work"
    times[$name]+="$((end - start)) "
    times[$name synced]+="$(($(date +%s%N) - start)) "
}

for ((i = 0; i < runs; i++)); do
    for build in with without; do
        run "large $build" "${!build}" "bench key" "$work/large"
        run "small $build" "${!build}" "bench key" "$work"/small/*
    done
done

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "In $(df --output=fstype "$dir" | tail -n 1) at $dir, $runs runs each, medians; $(nproc) cores."
echo
echo "| run | with the record | without | cost | with, then synced | without, then synced | cost |"
echo "|---|---:|---:|---:|---:|---:|---:|"
for what in large small; do
    label=$([[ $what == large ]] && echo "one file of $size_mib MiB" || echo "$small files of $small_kib KiB")
    row="| $label |"
    for series in "" " synced"; do
        with_ns=$(median <<<"${times[$what with$series]}") without_ns=$(median <<<"${times[$what without$series]}")
        row+=$(awk -v w="$with_ns" -v wo="$without_ns" 'BEGIN {
            printf " %.3f s | %.3f s | %+.1f%% |", w / 1e9, wo / 1e9, (w / wo - 1) * 100 }')
    done
    echo "$row"
done
