#!/usr/bin/env bash
# Builds both targets and runs every test: Linux natively (end-to-end under
# its own virtual displays), again under ASan+UBSan, the threaded programs
# under TSan, and Windows under Wine. Prints each stage's elapsed time. The
# sanitizer stages also hold a minute-long launcher session each, which runs
# beside their other tests; the presets hand over the suppression files.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$SECONDS
stage_start=$SECONDS
stage() {
  local now=$SECONDS
  [ -z "${stage_name:-}" ] || printf '== %s took %dm%02ds\n' "$stage_name" $(((now - stage_start) / 60)) $(((now - stage_start) % 60))
  stage_name=$1
  stage_start=$now
  [ -z "$stage_name" ] || echo "== $stage_name"
}

stage "Packages"
bash scripts/deps.sh all
jobs=$(nproc)
# Most tests wait on sockets, children and timers rather than the CPU.
test_jobs=$((jobs * 2))

# Test programs that run threads of ours: the ones worth TSan's time, and
# the self-test that proves TSan still reports a race of ours on the UI thread.
tsan_programs="bridge_test bridge_gtk_test_posix download_test http_client_test http_page_test
  java_run_test game_launch_test process_run_test process_run_test_posix startup_test glue_test
  uiserver_accept_test_posix uiserver_http_test webview_gtk_test_posix zip_functions_test
  login_popup_test_posix helpers_test e2e_test_posix dispatch_race_posix"
tsan_labels="^($(echo $tsan_programs | tr ' ' '|'))\$"

stage "Build: Linux and Windows"
cmake --preset linux >/dev/null
cmake --preset windows >/dev/null
# The Wine prefix takes a few seconds to create; do it while compiling.
bash tests/wine-prepare.sh build/windows > build/wine-prepare.log 2>&1 &
prep=$!
cmake --build --preset linux -j "$jobs"
cmake --build --preset windows -j "$jobs"
wait $prep || { cat build/wine-prepare.log; exit 1; }

status=0
stage "Linux tests"
ctest --preset linux -j "$test_jobs" || status=1

stage "Build: ASan+UBSan"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
stage "Linux tests under ASan+UBSan"
ctest --preset asan -j "$test_jobs" || status=1

stage "Build: TSan (threaded test programs)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target $tsan_programs
stage "Linux tests under TSan"
ctest --preset tsan -j "$test_jobs" -L "$tsan_labels" || status=1

stage "Windows tests (Wine)"
. scripts/xvfb.sh
start_xvfb
ctest --preset windows -j "$test_jobs" || status=1
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
stop_xvfb

stage ""
printf '== All stages took %dm%02ds\n' $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60))
if [ $status -ne 0 ]; then echo "Some tests failed." >&2; fi
exit $status
