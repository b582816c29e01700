#!/usr/bin/env bash
# Sets everything up, then builds and runs every test once: the default preset (everything), the
# sanitize preset (the core, qvr and their tests, and the fuzz targets on the same sanitized
# core: their corpora whole, then a short fuzzing run), the tsan preset (the core's concurrency
# tests), the Debian packages, and the Windows build of the core and qvr with their tests under
# Wine. Prints how long each step took, and the processor time it used (on a machine that
# others share the second figure is the one that compares).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
times=()
tick=$(getconf CLK_TCK)
# The processor time of this shell's finished children, in clock ticks (fields 16 and 17).
cpu() {
    local s
    read -r s </proc/$$/stat
    set -- ${s##*) }
    echo $((${14} + ${15}))
}
step() {
    local name=$1 t0=$SECONDS c0
    c0=$(cpu)
    shift
    echo "== $name"
    "$@"
    times+=("$(printf '%-10s %5d s %6d s CPU' "$name" $((SECONDS - t0)) $((($(cpu) - c0) / tick)))")
}
build_and_test() {
    local preset=$1
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
}

step setup bash scripts/setup.sh
# Fetching and building libdeflate for Windows waits mostly on the network: it goes on while
# the Linux builds run (windows-test.sh waits for it).
mkdir -p build/windows
bash scripts/windows-libdeflate.sh >build/windows/libdeflate.log 2>&1 &
step format bash scripts/format-check.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
step default build_and_test default
step sanitize build_and_test sanitize
step fuzz bash scripts/fuzz-check.sh
step tsan build_and_test tsan
step package bash scripts/package-check.sh
step windows bash scripts/windows-test.sh
echo "== test.sh: every step passed"
printf '  %s\n' "${times[@]}"
printf '  %-10s %5d s %6d s CPU\n' all $((SECONDS - start)) $(($(cpu) / tick))
