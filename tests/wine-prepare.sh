#!/bin/sh
# Creates the Wine prefix of the Windows build without running anything, so
# that a test script can do it in the background while the build runs.
#   wine-prepare.sh [BUILD_DIR]   (default: build/windows)
exec "$(cd "$(dirname "$0")" && pwd)/wine-run.sh" --prepare "$@"
