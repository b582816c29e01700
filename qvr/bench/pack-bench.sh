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

mkdir -p "$work/j1" "$work/j2"
python3 - "$qvr" "$work" <<'PY'
import os, resource, subprocess, sys, time
qvr, work = sys.argv[1], sys.argv[2]
def pack(jobs):
    out = os.path.join(work, "j%d" % jobs, "bench.qvr")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    subprocess.run([qvr, "-q", "create", "-j", str(jobs), out, os.path.join(work, "corpus")], check=True)
    wall = time.perf_counter() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return out, wall, cpu
o1, w1, c1 = pack(1)
o2, w2, c2 = pack(2)
same = open(o1, "rb").read() == open(o2, "rb").read()
size = os.path.getsize(o1)
print(f"qvr create -j 1: {w1:.2f} s ({c1:.2f} s of processor time)")
print(f"qvr create -j 2: {w2:.2f} s ({c2:.2f} s of processor time)")
print(f"speed-up: {w1 / w2:.2f}x on {os.cpu_count()} cores; package {size / 1e6:.1f} MB; "
      f"identical bytes: {'yes' if same else 'NO'}; load average: {os.getloadavg()[0]:.1f}")
PY
