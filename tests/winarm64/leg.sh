#!/usr/bin/env bash
# The winarm64 leg: the .spha files run under Debian's arm64 Wine inside QEMU's
# user-mode emulator, and what they answer must be what the .sph files answer
# under 64-bit Wine. One host (transcript_host.cpp), built for each machine,
# drives both plug-ins through both sets of exports over the same inputs and
# prints a transcript; the two transcripts are compared input by input.
#
#   leg.sh prepare
#       fetches arm64 Wine (the installed wine64's version) and QEMU into
#       build/winarm64-wine with a private apt state, and makes its Wine
#       prefix; nothing is installed. Done once: about 100 MB of downloads.
#   leg.sh compare ARM64_HOST SPHA_DIR X64_HOST SPH_DIR NATIVE_BUILD
#       prepares if need be, writes the inputs into build/winarm64-test
#       (the demo's samples, both fuzz corpora, the cases of make_cases),
#       runs both hosts and compares. Fails naming each input whose answers
#       differ, or the input a host stopped in.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
STATE=$ROOT/build/winarm64-wine
WORK=$ROOT/build/winarm64-test
FS=$STATE/root                                  # the arm64 Wine, unpacked
QEMU=$STATE/qemu/usr/bin/qemu-aarch64-static
ARM64_PREFIX=$STATE/prefix
WINE64=/usr/lib/wine/wine64
export WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
# Either host's whole run, with room to spare: the limit only ends a host that
# hangs (the README gives how long a run takes).
HOST_TIMEOUT=600

wine_version() { dpkg-query -W -f='${Version}' wine64; }

prepare() {
    local version
    version=$(wine_version)
    if [ "$(cat "$STATE/ready" 2>/dev/null)" = "$version" ]; then
        return 0
    fi
    echo "== winarm64: fetching arm64 Wine $version and QEMU into ${STATE#"$ROOT"/} (first run only)"
    rm -rf "$STATE"
    local apt_state=$STATE/apt
    mkdir -p "$apt_state/lists/partial" "$apt_state/cache/archives/partial" "$STATE/debs" "$FS" "$STATE/qemu"
    # The system's sources with arm64 beside this machine's architecture, in
    # lists and a cache of our own: the system's apt state is not touched.
    local apt=(apt-get -qq -o APT::Architectures::=arm64 -o "Dir::State::Lists=$apt_state/lists"
               -o "Dir::Cache=$apt_state/cache" -o APT::Sandbox::User=root)
    "${apt[@]}" update
    (cd "$STATE/debs" && "${apt[@]}" download "wine64:arm64=$version" "libwine:arm64=$version" \
        libc6:arm64 libgcc-s1:arm64 libunwind8:arm64 liblzma5:arm64 qemu-user-static)
    local deb
    for deb in "$STATE"/debs/*_arm64.deb; do dpkg-deb -x "$deb" "$FS"; done
    dpkg-deb --fsys-tarfile "$STATE"/debs/qemu-user-static_*.deb |
        tar -x -C "$STATE/qemu" ./usr/bin/qemu-aarch64-static
    rm -rf "$apt_state" "$STATE/debs"
    # The prefix is made by the x86-64 Wine of the same version; its system
    # DLLs are then replaced by arm64 Wine's ARM64 placeholders, without
    # which no ARM64 program starts (status c000007b).
    echo "== winarm64: making the arm64 Wine prefix"
    WINEPREFIX=$ARM64_PREFIX WINEARCH=win64 "$WINE64" wineboot --init >/dev/null 2>&1 || true
    WINEPREFIX=$ARM64_PREFIX wineserver -w
    [ -f "$ARM64_PREFIX/system.reg" ] || { echo "winarm64: wineboot made no prefix" >&2; exit 1; }
    cp "$FS"/usr/lib/aarch64-linux-gnu/wine/aarch64-windows/* "$ARM64_PREFIX/drive_c/windows/system32/"
    echo "$version" >"$STATE/ready"
}

# The arm64 wineserver, started by hand before an ARM64 program: the loader
# would start the x86-64 one, which refuses an arm64 client.
arm64_wineserver() {
    WINEPREFIX=$ARM64_PREFIX "$QEMU" -L "$FS" "$FS/usr/lib/wine/wineserver64" "$@"
}

# inputs NATIVE_BUILD: every input into $WORK/cases and their list, sorted,
# into $WORK/list.txt (paths relative to $WORK: under -L Wine cannot map a
# Unix absolute path to a drive).
inputs() {
    local native=$1
    mkdir -p "$WORK/cases/samples" "$WORK/cases/fuzz-tolvane" "$WORK/cases/fuzz-pellimor"
    "$native/tools/samples/make_samples" "$WORK/cases/samples" >/dev/null
    cp "$ROOT"/fuzz/corpus/tolvane/* "$WORK/cases/fuzz-tolvane/"
    cp "$ROOT"/fuzz/corpus/pellimor/* "$WORK/cases/fuzz-pellimor/"
    "$native/tests/winarm64/make_cases" "$WORK/cases"
    (cd "$WORK" && find cases -type f | LC_ALL=C sort) >"$WORK/list.txt"
}

# finished NAME TRANSCRIPT STATUS: whether the host went through every input;
# else says where it stopped.
finished() {
    local name=$1 transcript=$2 status=$3
    if [ "$status" -eq 0 ] && tail -n 1 "$transcript" | grep -q '^== end inputs='; then
        return 0
    fi
    local last
    last=$(grep '^== input ' "$transcript" | tail -n 1 | sed 's/^== input //; s/ bytes=.*//')
    echo "winarm64: the $name host stopped (exit status $status) in input ${last:-before the first}" >&2
    return 1
}

compare() {
    local arm64_host=$1 spha_dir=$2 x64_host=$3 sph_dir=$4 native=$5
    local f
    for f in "$arm64_host" "$spha_dir/tolvane.spha" "$spha_dir/pellimor.spha" "$x64_host" \
             "$sph_dir/tolvane.sph" "$sph_dir/pellimor.sph" "$native/tests/winarm64/make_cases" \
             "$native/tools/samples/make_samples"; do
        [ -e "$f" ] || { echo "winarm64: $f is missing; run ./run build first" >&2; exit 1; }
    done
    prepare
    rm -rf "$WORK"
    mkdir -p "$WORK/arm64" "$WORK/x64" "$WORK/out-arm64" "$WORK/out-x64"
    inputs "$native"
    cp "$arm64_host" "$spha_dir/tolvane.spha" "$spha_dir/pellimor.spha" "$WORK/arm64/"
    cp "$x64_host" "$sph_dir/tolvane.sph" "$sph_dir/pellimor.sph" "$WORK/x64/"
    echo "winarm64: $(wc -l <"$WORK/list.txt") inputs"

    cd "$WORK"
    # A server left by a run that was stopped would refuse the new one; under
    # QEMU it does not end by itself, so it is ended below.
    arm64_wineserver -k 2>/dev/null || true
    arm64_wineserver -p
    local arm64_status=0 x64_status=0
    timeout "$HOST_TIMEOUT" "$WINE64" 'x64/transcript_host.exe' list.txt 'x64\tolvane.sph' 'x64\pellimor.sph' \
        out-x64 >x64.txt 2>x64.err &
    local x64_pid=$!
    # The emulated loader cannot start another program (no binfmt_misc), so
    # it must not try.
    WINEPREFIX=$ARM64_PREFIX WINELOADERNOEXEC=1 timeout "$HOST_TIMEOUT" "$QEMU" -L "$FS" "$FS/usr/lib/wine/wine64" \
        'arm64/transcript_host.exe' list.txt 'arm64\tolvane.spha' 'arm64\pellimor.spha' out-arm64 \
        >arm64.txt 2>arm64.err || arm64_status=$?
    wait "$x64_pid" || x64_status=$?
    arm64_wineserver -k 2>/dev/null || true

    local ok=1
    finished "x86-64 (.sph)" x64.txt "$x64_status" || ok=0
    finished "ARM64 (.spha)" arm64.txt "$arm64_status" || ok=0
    # Each input's block of lines from one transcript against the other's;
    # the plug-ins' information strings come first, under the name "(information)".
    awk '
        FNR == 1 { file++ ; name = "(information)" }
        /^== input / { name = substr($0, 10); sub(/ bytes=.*/, "", name) }
        /^== end / { next }
        file == 1 { a[name] = a[name] $0 "\n"; if (!(name in order)) { order[name] = ++n; names[n] = name } }
        file == 2 { b[name] = b[name] $0 "\n" }
        END {
            differ = 0; compared = 0; unreached = 0; unreached_x64 = 0
            for (i = 1; i <= n; i++) {
                if (!(names[i] in b)) { unreached++; continue }
                if (i > 1) compared++
                if (a[names[i]] == b[names[i]]) continue
                differ++
                print "winarm64: the .spha and the .sph answer differently for " names[i] > "/dev/stderr"
            }
            for (k in b) if (!(k in a)) unreached_x64++
            if (unreached) print "winarm64: the .spha host did not reach " unreached " inputs" > "/dev/stderr"
            if (unreached_x64) print "winarm64: the .sph host did not reach " unreached_x64 " inputs" > "/dev/stderr"
            print "winarm64: " compared " inputs compared, " differ " differ"
            exit differ + unreached + unreached_x64 > 0
        }' x64.txt arm64.txt || ok=0
    if [ $ok -eq 0 ]; then
        diff x64.txt arm64.txt | head -n 40 >&2 || true
        echo "winarm64: transcripts in ${WORK#"$ROOT"/}/x64.txt and arm64.txt" >&2
        return 1
    fi
    echo "winarm64: the .spha and the .sph files answer alike ($(wc -l <x64.txt) transcript lines)"
}

case "${1:-}" in
    prepare) prepare ;;
    compare) shift; compare "$@" ;;
    *) sed -n '2,16p' "$0"; exit 2 ;;
esac
