#!/bin/sh
# Fuzzes the zip reader with libFuzzer for a bounded time: no crash, no
# runaway allocation, no file outside the destination or through a link in
# it, no more bytes written than the archive holds.
# Needs clang 14 and its runtimes (scripts/deps.sh fuzz).
# Usage: run_zip_reader_fuzz.sh [seconds] [jobs]
set -eu
seconds=${1:-60}
jobs=${2:-1}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
out="$top/build/fuzz"
corpus="$out/zip-corpus"
mkdir -p "$corpus"
cxx=$(command -v clang++ || command -v clang++-14)

"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$top" "$here/zip_reader_fuzz.cpp" "$top/zip/zip.cpp" "$top/zip/zip_format.cpp" "$top/zip/zip_io_posix.cpp" \
    "$top/app/helpers.cpp" "$top/app/helpers_posix.cpp" \
    $(pkg-config --cflags --libs gio-2.0) -o "$out/zip_reader_fuzz"

# Seeds: stored and deflated archives, names that try to climb out, device
# names, a META-INF entry, a comment, folder entries, and raw archives whose
# entries share data or run into the central directory.
python3 - "$corpus" <<'PY'
import os, struct, sys, zipfile, zlib
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
make("links", zipfile.ZIP_STORED, [("mods/x.txt", b"through a link"), ("mods/new/y.txt", b"y"), ("f", b"f")])
make("devices", zipfile.ZIP_STORED, [("CON", b"c"), ("sub/nul.txt", b"n"), ("LPT1.log", b"l"), ("a\0b", b"z")])

# Raw archives: each entry (name, data, local header offset or None for a
# header of its own).
def raw(name, entries):
    body, cd = b"", b""
    offsets = []
    for n, data, at in entries:
        crc, size = zlib.crc32(data), len(data)
        common = struct.pack("<HHIIIIH", 0, 0, 0, crc, size, size, len(n))
        if at is None:
            at = len(body)
            body += b"PK\3\4" + struct.pack("<H", 20) + common + struct.pack("<H", 0) + n + data
        cd += b"PK\1\2" + struct.pack("<HH", 20, 20) + common + struct.pack("<HHHHII", 0, 0, 0, 0, 0, at) + n
    end = b"PK\5\6" + struct.pack("<HHHHIIH", 0, 0, len(entries), len(entries), len(cd), len(body), 0)
    open(os.path.join(d, name), "wb").write(body + cd + end)
raw("shared", [(b"a.txt", b"A" * 64, None)] + [(b"copy%d" % i, b"A" * 64, 0) for i in range(20)])
raw("overrun", [(b"a.txt", b"A" * 8, None)])
p = os.path.join(d, "overrun")
b = bytearray(open(p, "rb").read())
b[30 + 5 + 8 + 20:30 + 5 + 8 + 24] = struct.pack("<I", 4000)  # the directory's size field
open(p, "wb").write(bytes(b))
PY

cd "$out"
exec timeout -k 10 $((seconds + 60)) ./zip_reader_fuzz -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
    -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 "$corpus"
