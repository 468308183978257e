#!/usr/bin/env bash
# Builds both targets and runs every test: Linux natively (end-to-end under
# its own virtual displays), Windows under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh all
jobs=$(nproc)

cmake --preset linux >/dev/null
cmake --preset windows >/dev/null
# The Wine prefix takes a few seconds to create; do it while compiling.
bash tests/wine-prepare.sh build/windows > build/wine-prepare.log 2>&1 &
prep=$!
cmake --build --preset linux -j "$jobs"
cmake --build --preset windows -j "$jobs"
wait $prep || { cat build/wine-prepare.log; exit 1; }

status=0
echo "== Linux tests"
ctest --preset linux -j "$jobs" || status=1

# The unit and integration tests again under the sanitizers (the end-to-end
# runs of the whole launcher stay with the plain build).
for preset in asan tsan; do
  echo "== Linux tests under $preset"
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j "$jobs"
  ctest --preset $preset -j "$jobs" -E '^EndToEnd\.' || status=1
done

echo "== Windows tests (Wine)"
. scripts/xvfb.sh
start_xvfb
ctest --preset windows -j "$jobs" || status=1
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
stop_xvfb

if [ $status -ne 0 ]; then echo "Some tests failed." >&2; fi
exit $status
