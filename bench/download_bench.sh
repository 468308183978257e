#!/bin/sh
# Batch downloader throughput next to aria2c and curl (Debian packages
# aria2, curl, time): 2,000 files of 16 KiB and 20 files of 8 MiB from one
# local server, 16 transfers at a time. Prints files/s, MB/s, the ratio of
# ours to each peer, and peak memory. Not a test; run by hand after
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
        printf 'url = "%s/%s/f%d.bin"\noutput = "%s/out/%s/f%d.bin"\n' "$base" $d $i "$work" $d $i >>"$work/curl.cfg"
        i=$((i + 1))
    done
done

# run NAME COMMAND...: wall time and peak memory of one client.
run() {
    name=$1; shift
    rm -rf "$work/out"; mkdir -p "$work/out/small" "$work/out/large"
    start=$(date +%s.%N)
    /usr/bin/time -f "%M" -o "$work/$name.mem" "$@" >/dev/null 2>"$work/$name.err" || {
        echo "$name failed:"; tail -5 "$work/$name.err"; exit 1; }
    end=$(date +%s.%N)
    got=$(find "$work/out" -type f -name 'f*.bin' | wc -l)
    [ "$got" -eq $files ] || { echo "$name fetched $got of $files files"; exit 1; }
    echo "$name $(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $(cat "$work/$name.mem")" >>"$work/results"
}

: >"$work/results"
run ours "$work/download_bench" fetch "$work/ours.list" "$work/out"
run aria2c aria2c -q -j16 -x1 --allow-overwrite=true --auto-file-renaming=false \
    --file-allocation=none -d "$work/out" -i "$work/aria.list"
run curl curl -s --parallel --parallel-max 16 -K "$work/curl.cfg"

ours=$(awk '$1 == "ours" { print $2 }' "$work/results")
printf '%-8s %9s %10s %9s %14s %12s\n' tool seconds files/s MB/s "ours/this" "peak MB"
while read -r name secs mem; do
    awk -v n="$name" -v s="$secs" -v m="$mem" -v f=$files -v b=$bytes -v o="$ours" 'BEGIN {
        printf "%-8s %9.2f %10.0f %9.1f %13.2fx %12.1f\n", n, s, f / s, b / s / 1e6, s / o, m / 1024 }'
done <"$work/results"
echo "(ours/this > 1 means ours is faster)"
