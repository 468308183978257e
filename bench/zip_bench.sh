#!/usr/bin/env bash
# Packs and unpacks a tree of mixed files (1 GiB by default) with
# native_zip / native_extract, then with `zip -0 -r`, `unzip` and `bsdtar`
# on the same tree, and prints MB/s and our speed relative to each.
# Not a test and not in CI: figures depend on the machine and its cache.
# Usage: zip_bench.sh [MiB]
set -euo pipefail
mib=${1:-1024}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
for tool in zip unzip bsdtar; do
    command -v "$tool" >/dev/null || { echo "zip_bench.sh: $tool is missing" >&2; exit 1; }
done

cmake --build "$top/build/linux" --target quorvel_core >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/zip-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -O2 -I"$top" -I"$top/tests" "$here/zip_bench.cpp" "$top/tests/support/headless_engine.cpp" \
    "$top/build/linux/libquorvel_core.a" $(pkg-config --libs webkit2gtk-4.1 gtk+-3.0) -lcurl -lpthread \
    -o "$work/zip_bench"

# The tree: a fifth in many small files, a fifth in medium ones, the rest
# in a few large ones; random bytes, so nothing is cheap to store.
tree="$work/tree"
python3 - "$tree" "$mib" <<'PY'
import os, random, sys
root, total = sys.argv[1], int(sys.argv[2]) << 20
rng = random.Random(7)
plan = [(total // 5, 1 << 10, 64 << 10), (total // 5, 1 << 20, 4 << 20), (total - 2 * (total // 5), 64 << 20, 128 << 20)]
n = 0
for budget, lo, hi in plan:
    while budget > 0:
        size = min(budget, rng.randint(lo, hi))
        folder = os.path.join(root, "d%02d" % (n % 37), "s%d" % (n % 5))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.bin" % n), "wb") as f:
            f.write(os.urandom(size))
        budget -= size
        n += 1
print("tree: %d files, %d MiB" % (n, total >> 20))
PY
bytes=$(du -sb "$tree" | cut -f1)
cat $(find "$tree" -type f) >/dev/null  # warm the cache for everyone alike

now() { date +%s.%N; }
timed() {  # prints the seconds a command takes
    local t0 t1
    t0=$(now)
    "$@" >/dev/null 2>&1 || { echo "zip_bench.sh: failed: $*" >&2; exit 1; }
    t1=$(now)
    echo "$t1 - $t0" | bc -l
}
rate() { echo "scale=1; $bytes / 1048576 / $1" | bc -l; }

ours_pack=$("$work/zip_bench" pack "$tree" "$work/ours.zip")
ours_extract=$("$work/zip_bench" extract "$work/ours.zip" "$work/ours-out")
zip_pack=$(cd "$tree" && timed zip -0 -r -q "$work/info.zip" .)
unzip_extract=$(timed unzip -q "$work/info.zip" -d "$work/unzip-out")
mkdir -p "$work/bsdtar-out"
bsdtar_extract=$(timed bsdtar -xf "$work/info.zip" -C "$work/bsdtar-out")
bsdtar_pack=$(cd "$tree" && timed bsdtar --format zip --options zip:compression=store -cf "$work/bsdtar.zip" .)

diff -r "$tree" "$work/ours-out" >/dev/null || { echo "zip_bench.sh: our round trip differs" >&2; exit 1; }

printf '%-28s %10s %10s %12s\n' "" "seconds" "MB/s" "ours/theirs"
line() { printf '%-28s %10.2f %10s %12s\n' "$1" "$2" "$(rate "$2")" "$3"; }
ratio() { echo "scale=2; $2 / $1" | bc -l; }
line "pack: native_zip" "$ours_pack" "-"
line "pack: zip -0 -r" "$zip_pack" "$(ratio "$ours_pack" "$zip_pack")"
line "pack: bsdtar (store)" "$bsdtar_pack" "$(ratio "$ours_pack" "$bsdtar_pack")"
line "extract: native_extract" "$ours_extract" "-"
line "extract: unzip" "$unzip_extract" "$(ratio "$ours_extract" "$unzip_extract")"
line "extract: bsdtar" "$bsdtar_extract" "$(ratio "$ours_extract" "$bsdtar_extract")"
