#!/bin/sh
# Batch downloader throughput next to aria2c and curl (Debian packages
# aria2, curl, time): 2,000 files of 16 KiB and 20 files of 8 MiB from one
# local server (files held in memory), 16 transfers at a time. Each tool gets
# an untimed warm-up, then ROUNDS (default 3) timed runs, taken in turns so
# that a busy machine hurts all alike; the median counts. Prints files/s,
# MB/s, the ratio of ours to each peer, and peak memory. Not a test; run by
# hand after
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
    got=$(find "$out" -type f -name 'f*.bin' | wc -l)
    [ "$got" -eq $files ] || { echo "$name fetched $got of $files files"; exit 1; }
    [ "${timed:-0}" -eq 1 ] || return 0
    echo "$name $(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $(cat "$work/$name.mem")" >>"$work/results"
}

: >"$work/results"
round=0
while [ $round -le "$rounds" ]; do
    timed=$([ $round -gt 0 ] && echo 1 || echo 0)
    run ours "$work/download_bench" fetch "$work/ours.list" @OUT@
    run aria2c aria2c -q -j16 -x1 --allow-overwrite=true --auto-file-renaming=false \
        --file-allocation=none -d @OUT@ -i "$work/aria.list"
    run curl curl -s --parallel --parallel-max 16 -K "$work/curl.run.cfg"
    round=$((round + 1))
done
# Median wall time (and the peak memory of that run) per tool, in run order.
for name in ours aria2c curl; do
    awk -v n="$name" '$1 == n' "$work/results" | sort -k2,2 -g |
        awk '{ l[NR] = $0 } END { print l[int((NR + 1) / 2)] }'
done >"$work/median"
mv "$work/median" "$work/results"

ours=$(awk '$1 == "ours" { print $2 }' "$work/results")
printf '%-8s %9s %10s %9s %14s %12s\n' tool seconds files/s MB/s "ours/this" "peak MB"
while read -r name secs mem; do
    awk -v n="$name" -v s="$secs" -v m="$mem" -v f=$files -v b=$bytes -v o="$ours" 'BEGIN {
        printf "%-8s %9.2f %10.0f %9.1f %13.2fx %12.1f\n", n, s, f / s, b / s / 1e6, s / o, m / 1024 }'
done <"$work/results"
echo "(ours/this > 1 means ours is faster)"
