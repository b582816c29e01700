#!/usr/bin/env bash
# Changes a package on a nearly full disk, and kills the change at every write-side system call,
# from outside, as a user's machine would; then checks the package the next command finds.
#
#   sudo scripts/write-sweeps.sh disk QVR add|replace|setinfo   # needs root: mounts a tmpfs
#   scripts/write-sweeps.sh kills QVR add|replace|setinfo       # needs strace
#
# disk: the package on a 4 MB tmpfs, its free space swept from 0 to MAXKB kB (default 254) in
# steps of STEP kB (default 6). kills: strace kills the command at the N-th use of each call,
# for every N until the command runs through. Both print one line of counts at the end.
set -uo pipefail
what=$1
qvr=$(realpath "$2")
mode=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/src" "$work/rep"
head -c 150000 /dev/urandom >"$work/src/a.bin"
head -c 60000 /dev/urandom >"$work/src/b.bin"
seq 1 20000 >"$work/src/c.txt"
head -c 200000 /dev/urandom >"$work/new.bin"
head -c 200000 /dev/urandom >"$work/rep/a.bin"
"$qvr" create -q "$work/orig.qvr" "$work/src" || exit 1
"$qvr" list "$work/orig.qvr" >"$work/orig.list"

# The arguments of the command under test, on the package at $1, in args.
arguments() {
    case $mode in
    add) args=(add -q "$1" "$work/new.bin") ;;
    replace) args=(add -q --replace "$1" "$work/rep/a.bin") ;;
    setinfo) args=(set-info -q "$1" --name "A new name" --version 2.5) ;;
    *) echo "unknown mode $mode" >&2 && exit 2 ;;
    esac
}

# Whether the package at $1 is whole: it verifies, and a replaced entry is there once.
whole() {
    "$qvr" verify -q "$1" >/dev/null 2>&1 || return 1
    [ "$mode" != replace ] || [ "$("$qvr" list -q "$1" | grep -c ' a\.bin$')" -eq 1 ]
}

# Files beside the package once the next command (list) has run.
leftovers() {
    "$qvr" list "$1/pkg.qvr" >/dev/null 2>&1
    ls -A "$1" | grep -v -e '^pkg\.qvr$' -e '^filler$' | wc -l
}

tried=0 lost=0 changed=0 left=0
if [ "$what" = disk ]; then
    mnt=$work/mnt
    mkdir -p "$mnt"
    mount -t tmpfs -o size=4m tmpfs "$mnt" || exit 1
    trap 'umount "$mnt"; rm -rf "$work"' EXIT
    for kb in $(seq 0 "${STEP:-6}" "${MAXKB:-254}"); do
        rm -f "$mnt"/* "$mnt"/.[!.]*
        cp "$work/orig.qvr" "$mnt/pkg.qvr"
        fill=$(($(stat -f -c '%a*%S' "$mnt") - kb * 1024))
        [ "$fill" -gt 0 ] && fallocate -l "$fill" "$mnt/filler"
        arguments "$mnt/pkg.qvr"
        "$qvr" "${args[@]}" >/dev/null 2>&1
        rm -f "$mnt/filler"
        tried=$((tried + 1))
        if ! whole "$mnt/pkg.qvr"; then
            lost=$((lost + 1))
            echo "free ${kb} kB: the package is broken"
        fi
        "$qvr" list "$mnt/pkg.qvr" 2>/dev/null | cmp -s - "$work/orig.list" || changed=$((changed + 1))
        left=$((left + $(leftovers "$mnt")))
    done
    echo "$mode on a full disk: tried $tried, packages lost $lost, changed $changed, files left $left"
    exit 0
fi

for call in pwrite64 write ftruncate rename unlink fsync openat; do
    for n in $(seq 1 1000); do
        rm -rf "$work/pkg"
        mkdir "$work/pkg"
        cp "$work/orig.qvr" "$work/pkg/pkg.qvr"
        arguments "$work/pkg/pkg.qvr"
        (strace -f -qq -o /dev/null -e trace="$call" -e inject="$call":signal=KILL:when="$n" \
            "$qvr" "${args[@]}" >/dev/null 2>&1) 2>/dev/null
        [ $? -ne 137 ] && break
        tried=$((tried + 1))
        if ! whole "$work/pkg/pkg.qvr"; then
            lost=$((lost + 1))
            echo "killed at $call #$n: the package is broken"
        fi
        left=$((left + $(leftovers "$work/pkg")))
    done
done
echo "$mode killed: kills $tried, packages broken $lost, files left $left"
