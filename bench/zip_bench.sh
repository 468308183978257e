#!/usr/bin/env bash
# Packing and unpacking next to the peers and the machine's limits, on one
# tree: native_zip / native_extract (through the bridge, as the page calls
# them), `zip -0 -r`, `unzip` and bsdtar, with `cp -r` and "read every file
# twice, write it once" (what a stored archive costs at least) as limits.
#
#   zip_bench.sh [mixed MiB | small COUNT]     (default: mixed 1024)
#
# mixed: a fifth of the bytes in files of 1-64 KiB, a fifth in 1-4 MiB, the
# rest in 64-128 MiB; small: COUNT files of 1-16 KiB. Random bytes.
#
# Fair by construction: every tool is timed the same way (the whole process,
# from the shell, ours included); ROUNDS (default 5) rounds after one
# untimed warm-up, the order of the tools rotated each round; `sync` before
# every step, so that no tool pays for another's dirty pages; the cache warm
# for all alike. Every output is verified (each file's path, size and
# SHA-256, read back from the folder or the archive) and then removed.
# Prints min/median/max seconds per tool and the ratios of the medians.
# Not a test and not in CI: the figures belong to the machine. WORK names
# the folder to work in (a file system of its own gives the steadiest
# figures); default a new folder under ${TMPDIR:-/tmp}.
set -euo pipefail
kind=${1:-mixed}
amount=${2:-}
case "$kind" in
  mixed) amount=${amount:-1024} ;;
  small) amount=${amount:-10000} ;;
  *) echo "usage: zip_bench.sh [mixed MiB | small COUNT]" >&2; exit 2 ;;
esac
rounds=${ROUNDS:-5}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
for tool in zip unzip bsdtar python3 cp; do
  command -v "$tool" >/dev/null || { echo "zip_bench.sh: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${WORK:-${TMPDIR:-/tmp}}/zip-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "building the helper..."
cmake --build "$top/build/linux" --target quorvel_core >/dev/null
g++ -std=c++20 -O2 -I"$top" -I"$top/tests" "$here/zip_bench.cpp" "$top/tests/support/headless_engine.cpp" \
  "$top/build/linux/libquorvel_core.a" $(pkg-config --libs webkit2gtk-4.1 gtk+-3.0) -lcurl -lpthread \
  -o "$work/zip_bench"

cat >"$work/tools.py" <<'PY'
import hashlib, os, random, sys, zipfile

def make(root, kind, amount):
    rng = random.Random(7)
    if kind == "mixed":
        total = amount << 20
        plan = [(total // 5, 1 << 10, 64 << 10), (total // 5, 1 << 20, 4 << 20),
                (total - 2 * (total // 5), 64 << 20, 128 << 20)]
    else:
        plan = [(None, 1 << 10, 16 << 10)]
    n = 0
    for budget, lo, hi in plan:
        while (budget > 0) if budget is not None else (n < amount):
            size = rng.randint(lo, hi) if budget is None else min(budget, rng.randint(lo, hi))
            folder = os.path.join(root, "d%02d" % (n % 37), "s%d" % (n % 5))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "f%05d.bin" % n), "wb") as f:
                f.write(os.urandom(size))
            if budget is not None:
                budget -= size
            n += 1
    print("tree: %d files" % n)

def digest(stream):
    h, size = hashlib.sha256(), 0
    while True:
        b = stream.read(1 << 20)
        if not b:
            return size, h.hexdigest()
        h.update(b)
        size += len(b)

# "path size sha256" for every file of a folder, or every file entry of an
# archive (read through zipfile, which also checks each entry's CRC).
def manifest(path):
    rows = []
    if os.path.isdir(path):
        for d, _, files in os.walk(path):
            for name in files:
                p = os.path.join(d, name)
                with open(p, "rb") as f:
                    size, h = digest(f)
                rows.append("%s %d %s" % (os.path.relpath(p, path), size, h))
    else:
        with zipfile.ZipFile(path) as z:
            for info in z.infolist():
                if info.is_dir():
                    continue
                with z.open(info) as f:
                    size, h = digest(f)
                name = info.filename[2:] if info.filename.startswith("./") else info.filename
                rows.append("%s %d %s" % (name, size, h))
    return sorted(rows)

def stats(results, names):
    med = {}
    print("%-26s %9s %9s %9s %9s" % ("", "min s", "median s", "max s", "MB/s"))
    total = int(open(results + ".bytes").read())
    for name in names:
        t = sorted(float(l.rstrip("\n").split("\t")[1]) for l in open(results) if l.split("\t")[0] == name)
        m = t[len(t) // 2] if len(t) % 2 else (t[len(t) // 2 - 1] + t[len(t) // 2]) / 2
        med[name] = m
        print("%-26s %9.3f %9.3f %9.3f %9.0f" % (name, t[0], m, t[-1], total / m / 1e6))
    return med

if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "make":
        make(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif cmd == "manifest":
        print("\n".join(manifest(sys.argv[2])))
    elif cmd == "report":
        results = sys.argv[2]
        names = ["pack: native_zip", "pack: zip -0 -r", "pack: bsdtar (store)", "limit: read 2x, write 1x",
                 "extract: native_extract", "extract: unzip", "extract: bsdtar", "limit: cp -r"]
        m = stats(results, names)
        print()
        print("ratios of medians (below 1: ours is faster)")
        for ours, peers in (("pack: native_zip", names[1:4] + ["limit: cp -r"]),
                            ("extract: native_extract", names[5:8])):
            for p in peers:
                print("  %-24s / %-26s %6.2f" % (ours, p, m[ours] / m[p]))
PY

tree="$work/tree"
python3 "$work/tools.py" make "$tree" "$kind" "$amount"
python3 "$work/tools.py" manifest "$tree" >"$work/tree.manifest"
awk '{ s += $(NF - 1) } END { print s }' "$work/tree.manifest" >"$work/results.bytes"
# One archive for every extractor: ours, which carries no extra fields or
# attributes for any tool to apply.
"$work/zip_bench" pack "$tree" "$work/source.zip"
python3 "$work/tools.py" manifest "$work/source.zip" | cmp -s - "$work/tree.manifest" ||
  { echo "zip_bench.sh: the source archive differs from the tree" >&2; exit 1; }

out="$work/out"
# Each step: NAME, then the command; @OUT@ is the step's output (a folder
# for extractors and cp, an archive otherwise).
steps=(
  "pack: native_zip|$work/zip_bench pack $tree @OUT@.zip"
  "pack: zip -0 -r|cd $tree && zip -0 -r -q @OUT@.zip ."
  "pack: bsdtar (store)|cd $tree && bsdtar --format zip --options zip:compression=store -cf @OUT@.zip ."
  "limit: read 2x, write 1x|$work/zip_bench read2write1 $tree @OUT@.bin"
  "extract: native_extract|$work/zip_bench extract $work/source.zip @OUT@"
  "extract: unzip|unzip -q $work/source.zip -d @OUT@"
  "extract: bsdtar|mkdir -p @OUT@ && bsdtar -xf $work/source.zip -C @OUT@"
  "limit: cp -r|cp -r $tree @OUT@"
)
now() { date +%s.%N; }
run_step() {  # name, command, timed
  local name=$1 cmd=${2//@OUT@/$out} t0 t1
  rm -rf "$out" "$out.zip" "$out.bin"
  sync
  t0=$(now)
  bash -c "$cmd" >/dev/null 2>"$work/step.err" || { echo "zip_bench.sh: $name failed:" >&2; cat "$work/step.err" >&2; exit 1; }
  t1=$(now)
  # Verified outside the clock; the read-2x-write-1x output is one blob.
  if [ -e "$out.zip" ] || [ -d "$out" ]; then
    local got="$out"
    [ -e "$out.zip" ] && got="$out.zip"
    python3 "$work/tools.py" manifest "$got" | cmp -s - "$work/tree.manifest" ||
      { echo "zip_bench.sh: $name: output differs from the tree" >&2; exit 1; }
  else
    [ "$(stat -c %s "$out.bin")" = "$(cat "$work/results.bytes")" ] ||
      { echo "zip_bench.sh: $name: output has the wrong size" >&2; exit 1; }
  fi
  [ "$3" = 1 ] && printf '%s\t%s\n' "$name" "$(echo "$t1 - $t0" | bc -l)" >>"$work/results"
  return 0
}

: >"$work/results"
cat $(find "$tree" -type f) "$work/source.zip" >/dev/null  # a warm cache for all alike
n=${#steps[@]}
for ((round = 0; round <= rounds; round++)); do
  [ $round -eq 0 ] && echo "warm-up round..." || echo "round $round of $rounds..."
  for ((i = 0; i < n; i++)); do
    step=${steps[$(((i + round) % n))]}
    run_step "${step%%|*}" "${step#*|}" $((round > 0 ? 1 : 0))
  done
done
rm -rf "$out" "$out.zip" "$out.bin"
echo
echo "$kind tree: $(wc -l <"$work/tree.manifest") files, $(($(cat "$work/results.bytes") / 1048576)) MiB;" \
  "$rounds rounds; on $(df -T "$work" | awk 'NR == 2 { print $2 }'); $(nproc) cores"
python3 "$work/tools.py" report "$work/results"
