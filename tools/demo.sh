#!/usr/bin/env bash
# The plug-ins at work: makes a sample FPK archive and two 16-bit bitmaps,
# then drives them through spihost with the real .spi files under Wine, the
# 64-bit .sph files under 64-bit Wine and the native build. Run by `./run demo` after the build.
#
#   tools/demo.sh        the whole tour; with WIN32_VM=1 the .spi part runs in
#                        the virtual machine (tools/vm/) that runs 32-bit Wine
#   tools/demo.sh spi    the .spi part alone (what the virtual machine runs)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
export WINEDEBUG=-all

DEMO=$ROOT/build/demo
SAMPLES=$DEMO/samples
MAKE_SAMPLES=$ROOT/build/native/tools/samples/make_samples
WIN_HOST=$ROOT/build/win32/tools/spihost/spihost.exe
WIN_PLUGINS=$ROOT/dist/win32
WIN64_HOST=$ROOT/build/win64/tools/spihost/spihost.exe
WIN64_PLUGINS=$ROOT/dist/win64
NATIVE_HOST=$ROOT/build/native/tools/spihost/spihost
NATIVE_PLUGINS=$ROOT/build/native/plugins

for f in "$MAKE_SAMPLES" "$WIN_HOST" "$WIN_PLUGINS/tolvane.spi" "$WIN_PLUGINS/pellimor.spi" \
         "$WIN64_HOST" "$WIN64_PLUGINS/tolvane.sph" "$WIN64_PLUGINS/pellimor.sph" \
         "$NATIVE_HOST" "$NATIVE_PLUGINS/tolvane.so" "$NATIVE_PLUGINS/pellimor.so"; do
    [ -e "$f" ] || { echo "demo: $f is missing; run ./run build first" >&2; exit 1; }
done

# Echoes a command (paths shown from the project folder), then runs it.
show() {
    local line="$*"
    echo "\$ ${line//$ROOT\//}"
    "$@"
    echo
}

# The same, for a command that is meant to fail.
show_failure() {
    local line="$*"
    echo "\$ ${line//$ROOT\//}"
    if "$@"; then
        echo "demo: expected this command to fail" >&2
        exit 1
    else
        echo "(exit status $?)"
    fi
    echo
}

# drive LABEL OUT PLUGIN_DIR SUFFIX HOST...: the whole tour through one host.
drive() {
    local label=$1 out=$2 plugins=$3 suffix=$4
    shift 4
    local tolvane=$plugins/tolvane.$suffix pellimor=$plugins/pellimor.$suffix
    mkdir -p "$out"
    echo "=== $label"
    echo
    show "$@" info "$tolvane"
    show "$@" probe "$tolvane" "$SAMPLES/sample.fpk"
    show "$@" list "$tolvane" "$SAMPLES/sample.fpk"
    show "$@" extract "$tolvane" "$SAMPLES/sample.fpk" --to "$out/files"
    show "$@" extract "$tolvane" "$SAMPLES/sample.fpk" --to "$out/memory" --memory
    show_failure "$@" list "$tolvane" "$SAMPLES/gradient565.bmp"
    show "$@" info "$pellimor"
    show "$@" probe "$pellimor" "$SAMPLES/gradient565.bmp"
    show "$@" picture "$pellimor" "$SAMPLES/gradient565.bmp"
    show "$@" picture "$pellimor" "$SAMPLES/gradient555.bmp"
    show "$@" decode "$pellimor" "$SAMPLES/gradient565.bmp" "$out/gradient565-24bit.bmp"
    show "$@" decode "$pellimor" "$SAMPLES/gradient555.bmp" "$out/gradient555-24bit.bmp" --memory
}

drive_spi() {
    drive "the real .spi plug-ins under Wine (spihost.exe, LoadLibraryW)" \
        "$DEMO/wine" "$WIN_PLUGINS" spi /usr/lib/wine/wine "$WIN_HOST"
}

if [ "${1:-}" = spi ]; then
    drive_spi
    exit 0
fi

rm -rf "$DEMO"
mkdir -p "$SAMPLES"
echo "=== sample files"
echo
show "$MAKE_SAMPLES" "$SAMPLES"

if [ "${WIN32_VM:-0}" = 1 ]; then
    echo "=== the .spi part runs under 32-bit Wine in the virtual machine, under CPU emulation:"
    echo "    about a minute, 2 more on this machine's first run while its Wine prefix is made"
    echo
    "$ROOT/tools/vm/vm.sh" --timeout 1200 "$ROOT/tools/vm/wine32.sh" bash "$ROOT/tools/demo.sh" spi
else
    drive_spi
fi
drive "the 64-bit .sph plug-ins under 64-bit Wine (spihost.exe for x64)" \
    "$DEMO/wine64" "$WIN64_PLUGINS" sph /usr/lib/wine/wine64 "$WIN64_HOST"
drive "the native build (spihost, dlopen)" \
    "$DEMO/native" "$NATIVE_PLUGINS" so "$NATIVE_HOST"

echo "=== results"
echo
same=1
for f in "$DEMO"/wine/files/* "$DEMO"/wine/memory/* "$DEMO"/wine/*.bmp; do
    for other in native wine64; do
        twin=$DEMO/$other/${f#"$DEMO"/wine/}
        cmp -s "$f" "$twin" || { echo "differs: ${f#"$ROOT"/} and ${twin#"$ROOT"/}"; same=0; }
    done
done
for f in "$DEMO"/wine/files/*; do
    cmp -s "$f" "$DEMO/wine/memory/${f##*/}" || { echo "differs: ${f#"$ROOT"/} (file and memory)"; same=0; }
done
[ $same -eq 1 ] && echo "Results of the .spi, the .sph and the native build are byte for byte the same, and so are the file and memory extractions."
echo "Extracted members: ${DEMO#"$ROOT"/}/wine/files, .../wine64/files, .../native/files (and .../memory)"
echo "24-bit pictures, open them in any viewer:"
for f in "$DEMO"/wine/*.bmp "$DEMO"/wine64/*.bmp "$DEMO"/native/*.bmp; do echo "  $f"; done
[ $same -eq 1 ]
