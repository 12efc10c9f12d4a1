#!/usr/bin/env bash
# Runs one command inside a small virtual machine whose kernel runs 32-bit
# programs, for machines whose own kernel refuses them ("Exec format error").
#
#   tools/vm/vm.sh [--timeout SECONDS] COMMAND [ARG...]
#
# The guest is Debian's own kernel under QEMU's CPU emulation (no KVM is
# needed) with a busybox initramfs made here. It sees this machine's files at
# the same paths, installed Wine and the build tree included, and runs COMMAND
# in the current folder with the variables listed below. Only /tmp and
# /dev/shm are its own; the checkout stays in view even if it lies there.
# The exit status is COMMAND's; 125 means the virtual machine failed (it is
# missing a piece, did not boot, died, or overran the timeout and was stopped).
set -euo pipefail
VM_DIR=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$VM_DIR/../.." && pwd)
STATE=$ROOT/build/vm
TIMEOUT=3600
BOOT_LIMIT=180
# Loaded in this order: virtio PCI transport, then 9p over it.
MODULES=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci
         netfs fscache 9pnet 9pnet_virtio 9p overlay)
# What the command sees of this machine's environment.
PASS_VARS=(PATH HOME XDG_CACHE_HOME LANG LC_ALL TERM WINEPREFIX WINEDEBUG WINEARCH WINEDLLOVERRIDES
           CTEST_OUTPUT_ON_FAILURE CTEST_PARALLEL_LEVEL)

fail() {
    echo "vm: $*" >&2
    exit 125
}

if [ "${1:-}" = --timeout ]; then
    TIMEOUT=$2
    shift 2
fi
[ $# -gt 0 ] || fail "usage: vm.sh [--timeout SECONDS] COMMAND [ARG...]"

# The newest installed kernel that comes with its 9p modules.
find_kernel() {
    local k ver
    for k in $(ls -1v /boot/vmlinuz-* 2>/dev/null | sort -rV); do
        ver=${k#/boot/vmlinuz-}
        if ls /lib/modules/"$ver"/kernel/fs/9p/9p.ko* >/dev/null 2>&1; then
            echo "$ver"
            return 0
        fi
    done
    if ls /boot/vmlinuz-* >/dev/null 2>&1; then
        fail "the kernels in /boot have no 9p modules under /lib/modules (reinstall linux-image-amd64)"
    fi
    fail "no kernel in /boot (apt-get install linux-image-amd64)"
}

# The initramfs: static busybox, the modules and our init. Made once per
# kernel and remade when init, this script (its list of modules) or busybox
# changes.
make_initrd() {
    local ver=$1 initrd=$2
    [ -x /bin/busybox ] || fail "busybox is missing (apt-get install busybox-static)"
    readelf -l /bin/busybox 2>/dev/null | grep -q INTERP \
        && fail "/bin/busybox is not statically linked (apt-get install busybox-static)"
    command -v cpio >/dev/null || fail "cpio is missing (apt-get install cpio)"
    if [ -f "$initrd" ] && [ "$initrd" -nt "$VM_DIR/init" ] && [ "$initrd" -nt "$VM_DIR/vm.sh" ] \
        && [ "$initrd" -nt /bin/busybox ]; then
        return 0
    fi
    local tree
    tree=$(mktemp -d "$STATE/initrd.XXXXXX")
    mkdir -p "$tree"/{bin,proc,dev,modules,mnt}
    cp /bin/busybox "$tree/bin/busybox"
    cp "$VM_DIR/init" "$tree/init"
    local m path
    for m in "${MODULES[@]}"; do
        path=$(grep -E "/$m\.ko(\.(xz|zst|gz))?:" "/lib/modules/$ver/modules.dep" | cut -d: -f1 || true)
        [ -n "$path" ] || fail "kernel $ver has no module $m in /lib/modules/$ver"
        case "$path" in
            *.xz) xz -dc "/lib/modules/$ver/$path" > "$tree/modules/$m.ko" ;;
            *.zst) zstd -qdc "/lib/modules/$ver/$path" > "$tree/modules/$m.ko" ;;
            *.gz) gzip -dc "/lib/modules/$ver/$path" > "$tree/modules/$m.ko" ;;
            *) cp "/lib/modules/$ver/$path" "$tree/modules/$m.ko" ;;
        esac
        echo "$m" >> "$tree/modules/order"
    done
    (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -1) > "$initrd.new"
    mv "$initrd.new" "$initrd"
    rm -rf "$tree"
}

command -v qemu-system-x86_64 >/dev/null || fail "QEMU is missing (apt-get install qemu-system-x86)"
mkdir -p "$STATE"
KVER=$(find_kernel)
INITRD=$STATE/initrd-$KVER.cpio.gz
make_initrd "$KVER" "$INITRD"

case "$ROOT$PWD" in
    *[[:space:]]*) fail "the checkout's path and the current folder must not hold blanks (the kernel command line carries them)" ;;
esac

# The job: the command, its folder and its variables, as a script the guest
# runs from the shared files.
JOB=$STATE/job-$$.sh
{
    echo "cd $(printf '%q' "$PWD") || exit 125"
    for v in "${PASS_VARS[@]}" $(compgen -v SPI_); do
        [ -n "${!v+x}" ] && echo "export $v=$(printf '%q' "${!v}")"
    done
    # Through a pipe, not straight to the console: Windows programs write to
    # a terminal one escaped character at a time.
    printf '%q ' "$@"
    echo '2>&1 | cat'
    echo 'exit "${PIPESTATUS[0]}"'
} > "$JOB"
rm -f "$JOB.booted" "$JOB.status"
trap 'rm -f "$JOB" "$JOB.booted" "$JOB.status"' EXIT

# QEMU 7.2's emulation faults an iret from user mode when SMAP is on, so SMAP
# (and PKU) stay off. The console is the serial port on our standard output.
timeout --kill-after=10 "$TIMEOUT" qemu-system-x86_64 \
    -accel tcg -cpu max,-smap,-pku -smp 2 -m 4G \
    -nodefaults -display none -no-reboot \
    -chardev stdio,id=console,signal=on -serial chardev:console \
    -kernel "/boot/vmlinuz-$KVER" -initrd "$INITRD" \
    -append "console=ttyS0 quiet panic=-1 spi_job=$JOB spi_keep=$ROOT" \
    -virtfs local,path=/,mount_tag=host,security_model=none,multidevs=remap \
    </dev/null &
QEMU=$!
# Stopped from outside, the virtual machine stops too (timeout passes the
# signal on to QEMU).
trap 'kill "$QEMU" 2>/dev/null; exit 125' TERM INT HUP

# A guest that has not reached its job in BOOT_LIMIT seconds is stopped.
started=$SECONDS
while kill -0 "$QEMU" 2>/dev/null && [ ! -e "$JOB.booted" ]; do
    if [ $((SECONDS - started)) -ge "$BOOT_LIMIT" ]; then
        kill "$QEMU" 2>/dev/null || true
        wait "$QEMU" 2>/dev/null || true
        fail "the virtual machine did not boot within $BOOT_LIMIT s and was stopped"
    fi
    sleep 1
done
status=0
wait "$QEMU" || status=$?
case $status in
    124|137) fail "the guest did not finish within $TIMEOUT s and was stopped" ;;
    0) ;;
    *) fail "QEMU failed (exit status $status)" ;;
esac
[ -e "$JOB.booted" ] || fail "the virtual machine stopped before it reached its job"
[ -s "$JOB.status" ] || fail "the guest died before the command finished (its console output is above)"
exit "$(cat "$JOB.status")"
