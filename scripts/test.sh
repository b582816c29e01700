#!/usr/bin/env bash
# Sets everything up, then builds and runs every test under both presets, then the Windows
# build of the library and qvr with their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/format-check.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
for preset in default sanitize; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ASAN_OPTIONS=detect_leaks=0 ctest --preset "$preset" -j "$jobs"
done
bash scripts/fuzz-check.sh
echo "== package"
bash scripts/package-check.sh
echo "== windows"
bash scripts/windows-test.sh
