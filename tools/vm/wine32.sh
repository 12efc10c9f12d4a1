#!/usr/bin/env bash
# Runs COMMAND with 32-bit Wine inside the virtual machine, with one
# wineserver kept up for the whole command so that each Windows program it
# starts finds Wine's services already running.
#
#   tools/vm/vm.sh tools/vm/wine32.sh COMMAND [ARG...]
#
# The guest's 32-bit prefix is made once per machine and Wine version (about
# two minutes), as this machine's own ~/.wine is, and kept in
# ~/.cache/tolvane-pellimor/. Each run sees it through an overlay in the
# guest's memory: what Wine writes there (its registry, the tests' scratch
# files in its Temp folder) never goes back to the kept prefix nor makes a
# trip to this machine, and each run starts from the same prefix.
set -uo pipefail
export WINEARCH=win32 WINEDEBUG=-all
# "wine-8.0 (Debian 8.0~repack-4)" keeps its prefix in wine32-wine-8.0-Debian-8.0~repack-4.
version=$(/usr/lib/wine/wine --version | sed -E 's/[^A-Za-z0-9.~+-]+/-/g; s/-$//')
KEPT=${XDG_CACHE_HOME:-$HOME/.cache}/tolvane-pellimor/wine32-$version
export WINEPREFIX=/tmp/wine32

if [ ! -f "$KEPT/system.reg" ]; then
    echo "== making the guest's 32-bit Wine prefix (first run on this machine only, about 2 minutes)"
    # Made in the guest's memory and copied into place whole, so that a guest
    # that dies half-way leaves no prefix that looks ready. Wine's .NET and
    # HTML engines are not installed and no test needs them: their set-up is
    # skipped. wineboot's own status is no verdict: on a busy machine it can
    # report a failure for a prefix it finished. The registry, which the
    # server writes out as it stops, is.
    WINEPREFIX=/tmp/wine32.made WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init \
        || echo "wine32: wineboot --init answered $?; the registry decides" >&2
    WINEPREFIX=/tmp/wine32.made wineserver -w
    [ -f /tmp/wine32.made/system.reg ] || { echo "wine32: the prefix could not be made" >&2; exit 1; }
    # Copied under a name of its own (another checkout's guest may be doing
    # the same) and renamed into place; if another was kept meanwhile, either
    # will do.
    copy=
    mkdir -p "$(dirname "$KEPT")" && copy=$(mktemp -d "$KEPT.XXXXXX") \
        && cp -a /tmp/wine32.made/. "$copy" && mv -T "$copy" "$KEPT" 2>/dev/null
    [ -z "$copy" ] || rm -rf "$copy"
    if [ -f "$KEPT/system.reg" ]; then
        rm -rf /tmp/wine32.made
    else
        echo "wine32: the prefix could not be kept in $KEPT; this run uses it from memory" >&2
        KEPT=/tmp/wine32.made
    fi
fi
mkdir -p /tmp/wine32.upper /tmp/wine32.work "$WINEPREFIX"
mount -t overlay overlay -o "lowerdir=$KEPT,upperdir=/tmp/wine32.upper,workdir=/tmp/wine32.work" \
    "$WINEPREFIX" || { echo "wine32: cannot mount an overlay over $KEPT" >&2; exit 1; }

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
