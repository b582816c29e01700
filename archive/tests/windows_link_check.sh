#!/usr/bin/env bash
# The Windows layer is never linked on Linux. With MinGW at hand, compile the library for
# Windows and check that every function of the library that one of its files calls is defined
# by another (zlib and the system are left out). Exit 77, a skip, without MinGW.
#   windows_link_check.sh ARCHIVE_FOLDER ZLIB_INCLUDE_FOLDER
set -euo pipefail
archive=$1
zlib=$2
cxx=$(command -v x86_64-w64-mingw32-g++-posix || command -v x86_64-w64-mingw32-g++ || true)
nm=$(command -v x86_64-w64-mingw32-nm || true)
if [[ -z $cxx || -z $nm ]]; then
    echo "MinGW is not installed: skipped"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# zlib's two headers alone, so that no other Linux header is seen.
mkdir "$work/zlib"
cp "$zlib/zlib.h" "$zlib/zconf.h" "$work/zlib/"
for f in "$archive"/src/*.cpp; do
    "$cxx" -std=c++20 -c -O0 -Wall -Wextra -I"$archive/include" -I"$archive/src" \
        -I"$work/zlib" "$f" -o "$work/$(basename "$f" .cpp).o"
done
"$nm" -C "$work"/*.o | sed -n 's/^ *U \(qvr::.*\)$/\1/p' | sort -u >"$work/used"
"$nm" -C "$work"/*.o | sed -n 's/^[0-9a-f]* [TWBDR] \(qvr::.*\)$/\1/p' | sort -u >"$work/defined"
missing=$(comm -23 "$work/used" "$work/defined")
if [[ -n $missing ]]; then
    echo "Called but defined nowhere in the Windows build:"
    echo "$missing"
    exit 1
fi
echo "The library links up for Windows: $(wc -l <"$work/used") functions called across files"
