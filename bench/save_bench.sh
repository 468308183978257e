#!/usr/bin/env bash
# Saves one file many times with native_writeText in an empty folder and in
# a folder of 20,000 other files (by default), and prints the milliseconds
# per save in each and their ratio. Each folder gets a fresh process, so its
# first save (which looks through the folder once) is shown on its own.
# Not a test and not in CI: figures depend on the machine and its disk.
# Usage: save_bench.sh [files in the big folder] [saves]
set -euo pipefail
files=${1:-20000}
saves=${2:-300}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)

cmake --build "$top/build/linux" --target quorvel_core >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/save-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -O2 -I"$top" "$here/save_bench.cpp" "$top/build/linux/libquorvel_core.a" \
    $(pkg-config --libs webkit2gtk-4.1 gtk+-3.0) -lcurl -lpthread -o "$work/save_bench"

mkdir -p "$work/empty" "$work/full"
python3 - "$work/full" "$files" <<'PY'
import os, sys
folder, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    with open(os.path.join(folder, "file%05d.dat" % i), "wb") as f:
        f.write(b"x")
PY

read -r empty_first empty_median empty_mean < <("$work/save_bench" "$work/empty" "$saves")
read -r full_first full_median full_mean < <("$work/save_bench" "$work/full" "$saves")

ratio() { echo "scale=2; $1 / $2" | bc -l; }
printf '%-32s %12s %12s %12s\n' "ms per save ($saves saves)" "first" "median" "mean"
printf '%-32s %12.3f %12.3f %12.3f\n' "empty folder" "$empty_first" "$empty_median" "$empty_mean"
printf '%-32s %12.3f %12.3f %12.3f\n' "folder of $files files" "$full_first" "$full_median" "$full_mean"
printf '%-32s %12s %12s %12s\n' "ratio full/empty" "$(ratio "$full_first" "$empty_first")" \
    "$(ratio "$full_median" "$empty_median")" "$(ratio "$full_mean" "$empty_mean")"
