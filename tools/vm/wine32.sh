#!/usr/bin/env bash
# Runs COMMAND with 32-bit Wine inside the virtual machine: in the guest's own
# 32-bit prefix (build/vm/wineprefix, made on first use and kept), with one
# wineserver kept up for the whole command so that each Windows program it
# starts finds Wine's services already running.
#
#   tools/vm/vm.sh tools/vm/wine32.sh COMMAND [ARG...]
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=$ROOT/build/vm/wineprefix WINEARCH=win32 WINEDEBUG=-all

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== preparing the guest's 32-bit Wine prefix (first run only, about 2 minutes)"
    # Made aside and moved into place whole, so a guest that dies half-way
    # leaves no prefix that looks ready. Wine's .NET and HTML engines are not
    # installed and no test needs them: their set-up is skipped.
    # wineboot's own status is no verdict: on a busy machine it can report a
    # failure for a prefix it finished. The registry, which the server writes
    # out as it stops, is.
    rm -rf "$WINEPREFIX.new"
    WINEPREFIX=$WINEPREFIX.new WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init \
        || echo "wine32: wineboot --init answered $?; the registry decides" >&2
    WINEPREFIX=$WINEPREFIX.new wineserver -w
    [ -f "$WINEPREFIX.new/system.reg" ] && mv "$WINEPREFIX.new" "$WINEPREFIX" \
        || { echo "wine32: the prefix could not be made" >&2; exit 1; }
fi

# Wine's services (services.exe, explorer and the like) start with the first
# Windows program and keep the standard handles it had. Started here with
# none, they cannot hold a test's output pipe open after the test ends, which
# would leave ctest waiting on it for as long as the kept server lives.
wineserver -p
/usr/lib/wine/wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
"$@"
status=$?
wineserver -k
exit $status
