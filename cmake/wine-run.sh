#!/bin/sh
# The Windows build's emulator: runs its programs on this machine under Wine.
#
#   wine-run.sh PREFIX PROGRAM [ARGUMENT...]   runs PROGRAM
#   wine-run.sh PREFIX                         only brings the wine server up
#   wine-run.sh PREFIX --stop                  stops it, if it runs
#
# Wine gets no display and PREFIX (created on first use) as its prefix. One
# wine server serves every program of a test run, so that none pays for a
# cold start: it stays up for a minute after the last program has ended (the
# tests' cleanup stops it at once; one left behind goes away on its own). It
# is started here, with wine's helper processes, before the program and
# with their output sent to PREFIX/server.log and no other descriptor of
# ours: a helper that inherits the pipes through which a test reads the
# program's output holds them open long after the program has ended.
set -e
WINEPREFIX=$1
shift
export WINEPREFIX WINEDEBUG=-all
# No Mono or Gecko installer, no menu entries on the host's desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

if [ "$1" = --stop ]; then
    wineserver -k -w 2>/dev/null || true
    exit 0
fi

mkdir -p "$WINEPREFIX"
# Tests run in parallel: one of them starts the server, the others wait.
# "wineserver -p" fails when a server already runs for the prefix. The lock
# is not handed down to the server, which would hold it for good.
{
    flock 9
    if wineserver -p60 8>&- 9>&-; then
        # Its status is not the program's: with only 64-bit Wine installed,
        # its 32-bit part fails, and on some machines that sets the status.
        # A prefix that is not usable shows in the program's own failure;
        # the log tells why.
        wineboot -i 8>&- 9>&- ||
            echo "wine-run.sh: wineboot -i ended with status $?; see $WINEPREFIX/server.log" >&8
    fi
} 8>&2 9>"$WINEPREFIX/.lock" >>"$WINEPREFIX/server.log" 2>&1 </dev/null

[ $# -eq 0 ] || exec wine "$@"
