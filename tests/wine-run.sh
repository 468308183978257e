#!/bin/sh
# Runs one Windows program under Wine: the cross-compiling emulator of the
# Windows build (ctest calls it as: wine-run.sh PROGRAM.exe ARGS...).
#   wine-run.sh --prepare [BUILD_DIR]   only creates the prefix (see
#                                       wine-prepare.sh), runs nothing.
#
# The prefix lives inside the build folder (or $QUORVEL_WINEPREFIX) so runs
# never touch the user's own Wine set-up; it is created once, under a lock.
# A lingering wineserver keeps each start cheap.
#
# Environment read:
#   QUORVEL_WINEPREFIX     prefix folder (default: <build>/wineprefix, where
#                          <build> is the nearest folder above the program
#                          holding CMakeCache.txt)
#   QUORVEL_WINE_TIMEOUT   seconds before the program is killed (default 110,
#                          under ctest's own 120 so that the kill is ours)
#   QUORVEL_WINE_LINGER    seconds the wineserver stays after the last
#                          program (default 600)
#   DISPLAY                X display for window tests; console tests run
#                          without one.
set -u

here=$(cd "$(dirname "$0")" && pwd)

die() {
    echo "wine-run.sh: $*" >&2
    exit 2
}

# The build folder: the nearest folder at or above $1 holding CMakeCache.txt.
find_build_dir() {
    d=$(cd "$1" 2>/dev/null && pwd) || return 1
    while [ "$d" != "/" ]; do
        if [ -f "$d/CMakeCache.txt" ]; then
            echo "$d"
            return 0
        fi
        d=$(dirname "$d")
    done
    return 1
}

prepare_only=0
if [ "${1:-}" = "--prepare" ]; then
    prepare_only=1
    build=${2:-$here/../build/windows}
    mkdir -p "$build" || die "cannot create $build"
    build=$(cd "$build" && pwd)
else
    [ $# -ge 1 ] || die "usage: wine-run.sh PROGRAM.exe [ARGS...]"
    [ -f "$1" ] || die "no such program: $1"
    build=$(find_build_dir "$(dirname "$1")") || build=$(cd "$(dirname "$1")/.." && pwd)
fi

export WINEPREFIX="${QUORVEL_WINEPREFIX:-$build/wineprefix}"
export WINEARCH=win64
# Without a UTF-8 locale non-ASCII names break and some calls hang.
export LANG=C.UTF-8
unset LC_ALL LC_CTYPE LANGUAGE
export WINEDEBUG=-all
# No Mono/Gecko install prompts, no menu entries, and no debugger: with
# winedbg disabled a crash ends with the exception code, never with 0.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
wine_home="$WINEPREFIX.home"
export HOME="$wine_home"
export XDG_CONFIG_HOME="$wine_home/.config"
export XDG_DATA_HOME="$wine_home/.local/share"
export XDG_CACHE_HOME="$wine_home/.cache"
mkdir -p "$WINEPREFIX" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" || die "cannot create $WINEPREFIX"

lock="$WINEPREFIX.lock"
ready="$WINEPREFIX/.quorvel-ready"
display_mark="$WINEPREFIX/.quorvel-display"

# Identity of the X server behind $DISPLAY: a new Xvfb on a reused display
# number is a different server, and a wineserver still tied to the old one
# makes window creation hang.
display_identity() {
    [ -n "${DISPLAY:-}" ] || return 0
    num=${DISPLAY#*:}
    num=${num%%.*}
    echo "$DISPLAY $(stat -c %i.%Y "/tmp/.X11-unix/X$num" 2>/dev/null)"
}

init_prefix() {
    # Created without a display, so the prefix does not depend on one.
    (
        unset DISPLAY
        timeout -k 10 300 wine wineboot --init >/dev/null 2>&1 || exit 1
        # Unmanaged windows: with a window manager's "managed" mode every
        # hidden window costs seconds.
        timeout -k 10 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
            >/dev/null 2>&1 || exit 1
        # Wine reports Windows 7 otherwise.
        timeout -k 10 120 wine winecfg -v win10 >/dev/null 2>&1 || exit 1
        # Let the server write the registry out before the prefix counts as ready.
        timeout -k 10 120 wineserver -w
    ) || return 1
    : >"$ready"
}

{
    flock 9 || die "cannot lock $lock"
    if [ ! -f "$ready" ]; then
        # fd 9 closed: a server that outlives this would hold the lock.
        init_prefix 9>&- || die "cannot initialise the Wine prefix $WINEPREFIX"
    fi
    if [ "$prepare_only" = 0 ]; then
        ident=$(display_identity)
        if [ -n "$ident" ] && [ "$ident" != "$(cat "$display_mark" 2>/dev/null)" ]; then
            # A server started for another X display must go first.
            wineserver -k >/dev/null 2>&1 9>&-
            timeout -k 5 60 wineserver -w >/dev/null 2>&1 9>&-
            echo "$ident" >"$display_mark"
        fi
        # Fails quietly when a server is already running for the prefix. The
        # server must not inherit the lock (fd 9), or it would hold it for as
        # long as it lingers.
        wineserver -p"${QUORVEL_WINE_LINGER:-600}" >/dev/null 2>&1 9>&-
    fi
} 9>"$lock"

[ "$prepare_only" = 1 ] && exit 0

# Wine's helper processes (services, devices, the desktop) stay with the
# lingering server and inherit the program's standard output and error; were
# those ctest's pipes, ctest would wait for them to close until the server
# goes. So the program writes into files, which are copied out afterwards.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.out.XXXXXX") || die "no temporary file"
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.err.XXXXXX") || { rm -f "$out"; die "no temporary file"; }
trap 'rm -f "$out" "$err"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# timeout signals its whole process group, so programs that the test
# started are ended too.
limit=${QUORVEL_WINE_TIMEOUT:-110}
timeout -k 10 "$limit" wine "$@" </dev/null >"$out" 2>"$err"
rc=$?
# Now and then Wine fails to start a program at all: exit code 1 at once,
# and not a byte of output, although every program of ours prints something.
# Such a start is tried once more.
if [ "$rc" = 1 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
    timeout -k 10 "$limit" wine "$@" </dev/null >"$out" 2>"$err"
    rc=$?
fi
cat "$out"
cat "$err" >&2
case $rc in
    0) ;;
    124 | 137) echo "wine-run.sh: $1 did not end within $limit s" >&2 ;;
    *) echo "wine-run.sh: $1 ended with exit code $rc" >&2 ;;
esac
exit $rc
