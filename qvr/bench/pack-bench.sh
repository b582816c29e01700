#!/usr/bin/env bash
# Packs the "medium" sample corpus with one thread and with two, and prints both times, the
# speed-up and whether the two packages are byte for byte the same.
#   bash qvr/bench/pack-bench.sh [PROFILE]      (PROFILE: medium by default; tiny, many)
# QVR may name a qvr binary to use; otherwise the default preset's is built.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
profile=${1:-medium}
corpus_tool="$root/../shared/bench/make-corpus.py"
[[ -f $corpus_tool ]] || { echo "pack-bench: $corpus_tool not found" >&2; exit 2; }

qvr=${QVR:-}
if [[ -z $qvr ]]; then
    cmake --preset default >/dev/null
    cmake --build --preset default --target qvr -j "$(nproc)" >/dev/null
    qvr="$root/build/default/qvr/qvr"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$corpus_tool" --profile "$profile" --out "$work/corpus" --no-summary
export SOURCE_DATE_EPOCH=1700000000

now() { python3 -c 'import time; print(time.perf_counter())'; }
pack() { # jobs output
    local t0 t1
    t0=$(now)
    "$qvr" -q create -j "$1" "$2" "$work/corpus"
    t1=$(now)
    python3 -c "print(f'{$t1 - $t0:.3f}')"
}

mkdir -p "$work/j1" "$work/j2"
t1=$(pack 1 "$work/j1/bench.qvr")
t2=$(pack 2 "$work/j2/bench.qvr")
same=no
cmp -s "$work/j1/bench.qvr" "$work/j2/bench.qvr" && same=yes
python3 - "$t1" "$t2" "$same" "$(stat -c %s "$work/j1/bench.qvr")" "$(nproc)" <<'PY'
import sys
t1, t2, same, size, cores = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3], int(sys.argv[4]), sys.argv[5]
print(f"qvr create -j 1: {t1:.2f} s")
print(f"qvr create -j 2: {t2:.2f} s")
print(f"speed-up: {t1 / t2:.2f}x on {cores} cores; package {size / 1e6:.1f} MB; identical bytes: {same}")
PY
