#!/bin/sh
# Fuzzes the UI server's request parsing (paths, ranges, backgrounds) with
# libFuzzer for a bounded time. Usage: run_uiserver_fuzz.sh [seconds] [jobs]
set -eu
seconds=${1:-60}
jobs=${2:-1}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
out="$top/build/fuzz"
mkdir -p "$out/corpus"

clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$top" "$here/uiserver_fuzz.cpp" "$top/uiserver/ui_paths.cpp" \
    "$top/app/helpers.cpp" "$top/app/helpers_posix.cpp" \
    $(pkg-config --cflags --libs gio-2.0) -o "$out/uiserver_fuzz"

# A few seeds so the search starts near real requests.
printf '/app.js?v=3' > "$out/corpus/seed-query"
printf '/%%2e%%2e/x' > "$out/corpus/seed-dots"
printf '/userbg/sky.jpg' > "$out/corpus/seed-userbg"
printf '10-19' > "$out/corpus/seed-range"
printf -- '-30' > "$out/corpus/seed-suffix"
printf 'GET /x HTTP/1.1\r\nRANGE: BYTES=0-9\r\n\r\n' > "$out/corpus/seed-head"

cd "$out"
exec timeout -k 10 $((seconds + 60)) ./uiserver_fuzz -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
    -max_len=4096 -print_final_stats=1 corpus
