#!/bin/sh
# Batch downloader throughput next to aria2c and curl (Debian packages
# aria2, curl, time): 2,000 files of 16 KiB and 20 files of 8 MiB from one
# local server (files held in memory), 16 transfers at a time. Each tool gets
# an untimed warm-up, then ROUNDS (default 3) timed runs; the order of the
# tools turns each round, so that none always goes first or last, and
# `sync` runs before every step. Every tool is timed the same way, as a
# whole process. Every run's output is verified: exactly the files asked
# for, each with the size and SHA-256 of its source. Prints min/median/max
# seconds, files/s and MB/s at the median, the ratio of the medians, and
# peak memory. Not a test; run by hand after
#   cmake --preset linux && cmake --build build/linux --target http_client_test
# (which builds the libraries linked here).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
build=${BUILD:-$src/build/linux}
work=$(mktemp -d /tmp/quorvel-bench.XXXXXX)
trap 'exec 3>&- 2>/dev/null; kill $server_pid 2>/dev/null; rm -rf "$work"' EXIT
server_pid=

for tool in aria2c curl /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install aria2 curl time)"; exit 2; }
done

echo "building the helper..."
g++ -std=c++20 -O2 -I"$src" -I"$src/tests" "$here/download_bench.cpp" \
    "$build/tests/libquorvel_test_support.a" "$build/libquorvel_core.a" \
    $(pkg-config --libs webkit2gtk-4.1 gtk+-3.0 libcurl) -lgtest -lpthread -o "$work/download_bench"

echo "making files..."
mkdir -p "$work/root/small" "$work/root/large"
head -c 16384 /dev/urandom >"$work/seed16k"
head -c 8388608 /dev/urandom >"$work/seed8m"
i=0
while [ $i -lt 2000 ]; do cp "$work/seed16k" "$work/root/small/f$i.bin"; i=$((i + 1)); done
i=0
while [ $i -lt 20 ]; do cp "$work/seed8m" "$work/root/large/f$i.bin"; i=$((i + 1)); done
sync
files=2020
bytes=$((2000 * 16384 + 20 * 8388608))
# What every output must hold: each file's size and hash.
(cd "$work/root" && find . -type f -name 'f*.bin' | sort | xargs sha256sum) >"$work/manifest"

mkfifo "$work/stdin"
"$work/download_bench" serve "$work/root" <"$work/stdin" >"$work/port" &
server_pid=$!
exec 3>"$work/stdin"
while [ ! -s "$work/port" ]; do sleep 0.1; done
port=$(head -n1 "$work/port")
base="http://127.0.0.1:$port"

: >"$work/ours.list"; : >"$work/aria.list"; : >"$work/curl.cfg"
for d in small large; do
    n=$([ $d = small ] && echo 2000 || echo 20)
    i=0
    while [ $i -lt $n ]; do
        printf '%s/%s/f%d.bin\t%s/f%d.bin\n' "$base" $d $i $d $i >>"$work/ours.list"
        printf '%s/%s/f%d.bin\n  out=%s/f%d.bin\n' "$base" $d $i $d $i >>"$work/aria.list"
        printf 'url = "%s/%s/f%d.bin"\noutput = "@OUT@/%s/f%d.bin"\n' "$base" $d $i $d $i >>"$work/curl.cfg"
        i=$((i + 1))
    done
done

# Every run writes into a folder of its own that is removed only at the
# end: files deleted just before a run make the file system search its
# inode tables for reusable entries, which costs each file creation far
# more than the download and punishes the tool that creates in parallel.
# Outputs of earlier runs are flushed before the clock starts.
rounds=${ROUNDS:-3}
runs=0
# run NAME COMMAND...: wall time and peak memory of one client; OUT in the
# command is replaced by this run's output folder.
run() {
    name=$1; shift
    runs=$((runs + 1))
    out="$work/out$runs"
    mkdir -p "$out/small" "$out/large"
    sed "s#@OUT@#$out#" "$work/curl.cfg" >"$work/curl.run.cfg"
    cmd=""
    for a in "$@"; do cmd="$cmd '$(printf '%s' "$a" | sed "s#@OUT@#$out#g")'"; done
    sync
    start=$(date +%s.%N)
    eval /usr/bin/time -f "%M" -o "'$work/$name.mem'" "$cmd" >/dev/null 2>"$work/$name.err" || {
        echo "$name failed:"; tail -5 "$work/$name.err"; exit 1; }
    end=$(date +%s.%N)
    got=$(find "$out" -type f | wc -l)
    [ "$got" -eq $files ] || { echo "$name left $got files, not $files"; exit 1; }
    (cd "$out" && sha256sum --quiet --strict -c "$work/manifest") >"$work/$name.check" 2>&1 || {
        echo "$name: files differ from their sources:"; head -5 "$work/$name.check"; exit 1; }
    [ "${timed:-0}" -eq 1 ] || return 0
    echo "$name $(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $(cat "$work/$name.mem")" >>"$work/results"
}

: >"$work/results"
run_tool() {
    case $1 in
    ours) run ours "$work/download_bench" fetch "$work/ours.list" @OUT@ ;;
    aria2c) run aria2c aria2c -q -j16 -x1 --allow-overwrite=true --auto-file-renaming=false \
        --file-allocation=none -d @OUT@ -i "$work/aria.list" ;;
    curl) run curl curl -s --parallel --parallel-max 16 -K "$work/curl.run.cfg" ;;
    esac
}
round=0
while [ $round -le "$rounds" ]; do
    timed=$([ $round -gt 0 ] && echo 1 || echo 0)
    # Turned by one each round: ours, aria2c, curl; then aria2c, curl, ours...
    for k in 0 1 2; do
        case $(((round + k) % 3)) in 0) run_tool ours ;; 1) run_tool aria2c ;; 2) run_tool curl ;; esac
    done
    round=$((round + 1))
done
# Per tool: min, median (with that run's peak memory) and max wall time.
for name in ours aria2c curl; do
    awk -v n="$name" '$1 == n' "$work/results" | sort -k2,2 -g |
        awk '{ l[NR] = $0; t[NR] = $2 } END { split(l[int((NR + 1) / 2)], m, " "); print m[1], t[1], m[2], t[NR], m[3] }'
done >"$work/summary"

ours=$(awk '$1 == "ours" { print $3 }' "$work/summary")
printf '%-8s %8s %9s %8s %10s %9s %12s %9s\n' tool "min s" "median s" "max s" files/s MB/s "this/ours" "peak MB"
while read -r name lo med hi mem; do
    awk -v n="$name" -v lo="$lo" -v s="$med" -v hi="$hi" -v m="$mem" -v f=$files -v b=$bytes -v o="$ours" 'BEGIN {
        printf "%-8s %8.2f %9.2f %8.2f %10.0f %9.1f %11.2fx %9.1f\n", n, lo, s, hi, f / s, b / s / 1e6, s / o, m / 1024 }'
done <"$work/summary"
echo "(files/s and MB/s at the median; this/ours is the ratio of the medians, above 1: ours is faster)"
