#!/bin/sh
# Fuzzes the zip reader with libFuzzer for a bounded time: no crash, no
# runaway allocation, no file outside the destination.
# Usage: run_zip_reader_fuzz.sh [seconds] [jobs]
set -eu
seconds=${1:-60}
jobs=${2:-1}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
out="$top/build/fuzz"
corpus="$out/zip-corpus"
mkdir -p "$corpus"

clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$top" "$here/zip_reader_fuzz.cpp" "$top/zip/zip.cpp" "$top/zip/zip_format.cpp" "$top/zip/zip_io_posix.cpp" \
    "$top/app/helpers.cpp" "$top/app/helpers_posix.cpp" \
    $(pkg-config --cflags --libs gio-2.0) -o "$out/zip_reader_fuzz"

# Seeds: stored and deflated archives, names that try to climb out, a
# META-INF entry, a comment, folder entries.
python3 - "$corpus" <<'PY'
import os, sys, zipfile
d = sys.argv[1]
def make(name, method, entries, comment=b""):
    with zipfile.ZipFile(os.path.join(d, name), "w", method) as z:
        for n, data in entries:
            z.writestr(n, data)
        z.comment = comment
make("stored", zipfile.ZIP_STORED, [("a.txt", b"alpha"), ("sub/b.txt", b"beta" * 50), ("dir/", b"")])
make("deflated", zipfile.ZIP_DEFLATED, [("a.txt", b"x" * 1000)])
make("climb", zipfile.ZIP_STORED, [("../up.txt", b"1"), ("a/../../up2.txt", b"2"), ("/abs.txt", b"3"),
                                   ("\\back.txt", b"4"), ("c:x", b"5"), ("ok.txt", b"6")])
make("meta", zipfile.ZIP_STORED, [("META-INF/MANIFEST.MF", b"m"), ("x\\y.txt", b"w")], b"comment")
PY

cd "$out"
exec timeout -k 10 $((seconds + 60)) ./zip_reader_fuzz -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
    -max_len=8192 -rss_limit_mb=2048 -print_final_stats=1 "$corpus"
