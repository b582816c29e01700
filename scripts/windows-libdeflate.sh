#!/usr/bin/env bash
# Builds libdeflate for 64-bit Windows with MinGW-w64 from Debian's source package, the same
# version as the libdeflate-dev the Linux build uses, so that qvr.exe packs the same bytes as the
# Linux qvr. Debian ships no MinGW build of it. The result is kept in build/windows/libdeflate
# (include/libdeflate.h, lib/libdeflate.a) and a second run with the same version does nothing.
#   windows-libdeflate.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/windows}/libdeflate")
version=$(dpkg-query -W -f='${Version}' libdeflate-dev)
# One build at a time: test.sh starts one early, and windows-test.sh waits for it here.
mkdir -p "$(dirname "$out")"
exec 9>"$out.lock"
flock 9
if [[ -f $out/lib/libdeflate.a && $(cat "$out/version" 2>/dev/null) == "$version" ]]; then
    exit 0
fi
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"

# apt-get source needs the source lists: add them beside the binary ones when they are missing.
# (Taken whole first: grep -q ends at its match, and pipefail would count apt-get's broken pipe.)
if ! grep -qx Sources <<<"$(apt-get indextargets --format '$(CREATED_BY)')"; then
    echo "windows-libdeflate: adding the Debian source lists"
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ -f $f ]] || continue
        grep -q '^Types:.*\bdeb\b' "$f" || continue
        sed 's/^Types: .*/Types: deb-src/' "$f" | $sudo tee "/etc/apt/sources.list.d/qvr-src-$(basename "$f")" >/dev/null
    done
    if [[ -f /etc/apt/sources.list ]] && grep -q '^deb ' /etc/apt/sources.list; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee /etc/apt/sources.list.d/qvr-src.list >/dev/null
    fi
    $sudo apt-get update -qq
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "windows-libdeflate: building libdeflate $version for MinGW"
(cd "$work" && apt-get source -qq "libdeflate=$version" >/dev/null 2>"$work/apt.log") || {
    cat "$work/apt.log" >&2
    exit 1
}
src=$(find "$work" -maxdepth 1 -type d -name 'libdeflate-*' | head -1)
[[ -f $src/libdeflate.h ]] || { echo "windows-libdeflate: no libdeflate.h in the source" >&2; exit 1; }

# The library's own sources, compiled one by one: the upstream makefile's Windows rules also
# build a DLL and programs the project does not need.
mkdir -p "$work/obj"
export cc=x86_64-w64-mingw32-gcc-posix src work
printf '%s\n' "$src"/lib/*.c "$src"/lib/x86/*.c | xargs -P "$(nproc)" -I{} sh -c \
    '"$cc" -O2 -fomit-frame-pointer -std=c99 -Wall -I"$src" -c "$1" -o "$work/obj/$(echo "${1#$src/}" | tr / -).o"' _ {}
rm -rf "$out"
mkdir -p "$out/include" "$out/lib"
x86_64-w64-mingw32-ar rcs "$out/lib/libdeflate.a" "$work"/obj/*.o
cp "$src/libdeflate.h" "$out/include/"
echo "$version" >"$out/version"
echo "windows-libdeflate: $out/lib/libdeflate.a"
