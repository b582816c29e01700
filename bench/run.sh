#!/usr/bin/env bash
# Whole-process figures for qvr against zip, tar, gzip, pigz and unzip on the same corpus, in one
# run, so the ratios hold even on a machine that others share.
#
#   bench/run.sh [--qvr PATH] [--installer PATH] [--work DIR] [--repeat N] [--jobs N] [PROFILE...]
#
# PROFILE is tiny, medium, many or huge-member (default: medium many huge-member). Corpora come
# from make-corpus.py beside the repository (../shared/bench) or /work/shared/bench; without it a
# small corpus is made here. Every figure is the median of N runs (default 3), each into a fresh
# target. Prints one table per profile; exits non-zero when a command fails. --installer names
# installer_install (built with the tools), which installs as QVRInstaller's window does.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
qvr="$repo/build/default/qvr/qvr"
installer="$repo/build/default/installer/installer_install"
work="${TMPDIR:-/tmp}/qvr-bench"
repeat=3
jobs=$(nproc 2>/dev/null || echo 2)
profiles=()
while (($#)); do
    case "$1" in
    --qvr) qvr=$2; shift 2 ;;
    --installer) installer=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) profiles+=("$1"); shift ;;
    esac
done
((${#profiles[@]})) || profiles=(medium many huge-member)
qvr=$(realpath "$qvr")
[[ -x $qvr ]] || { echo "run.sh: no qvr at $qvr (build it or pass --qvr)" >&2; exit 2; }

# The peers are Debian packages; a fresh machine gets them here.
missing=()
for tool in zip unzip pigz gzip tar; do command -v "$tool" >/dev/null || missing+=("$tool"); done
[[ -x /usr/bin/time ]] || missing+=(time)
if ((${#missing[@]})); then
    echo "run.sh: installing ${missing[*]}" >&2
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >&2
fi

maker=""
for candidate in "$repo/../shared/bench/make-corpus.py" /work/shared/bench/make-corpus.py; do
    [[ -f $candidate ]] && { maker=$candidate; break; }
done

mkdir -p "$work"
work=$(realpath "$work")

# Without the generator: a few hundred files of text-like and random data, enough to keep the
# command working, not to compare with published figures.
fallback_corpus() {
    python3 - "$1" "$2" <<'EOF'
import os, random, sys
out, profile = sys.argv[1], sys.argv[2]
count, big = {"tiny": (40, 0), "medium": (800, 0), "many": (10000, 0), "huge-member": (20, 300)}[profile]
rng = random.Random(1)
words = [b"Morrowind", b"Balmora", b"NPC_", b"INFO", b"DIAL", b"Vivec", b"Ald'ruhn", b"ebony"]
def write(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        left = size
        while left > 0:
            piece = b" ".join(rng.choice(words) for _ in range(200)) + rng.randbytes(400)
            f.write(piece[:left]); left -= len(piece)
for i in range(count):
    write(os.path.join(out, "Meshes", "m%02d" % (i % 37), "f%05d.nif" % i), rng.randint(200, 60000))
if big:
    write(os.path.join(out, "Huge.esm"), big << 20)
EOF
}

corpus_for() {
    local profile=$1 dir="$work/corpus-$1"
    # The mark lies beside the corpus: an empty file inside would be packed (or refused) too.
    [[ -f $dir/.complete ]] && mv "$dir/.complete" "$dir.complete"
    if [[ ! -f $dir.complete ]]; then
        rm -rf "$dir"
        if [[ -n $maker ]]; then
            python3 "$maker" --profile "$profile" --out "$dir" --no-summary >&2
        else
            fallback_corpus "$dir" "$profile"
        fi
        touch "$dir.complete"
    fi
    echo "$dir"
}

# measure LABEL PREP COMMAND [TIMES]: runs PREP (untimed) and COMMAND TIMES times (`repeat`);
# sets wall, cpu, mem to the medians (seconds, seconds, MB).
measure() {
    local prep=$2 cmd=$3 i times=${4:-$repeat}
    local walls=() cpus=() mems=()
    for ((i = 0; i < times; ++i)); do
        bash -c "$prep"
        # The wall time to the millisecond (time's own is in hundredths: 0.18 s against 0.24 s
        # says little about a ratio); microseconds, whatever the locale's decimal point.
        local start=${EPOCHREALTIME/[^0-9]/}
        if ! /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" bash -c "$cmd" >"$work/out.txt" 2>&1; then
            echo "run.sh: $1 failed: $cmd" >&2
            tail -5 "$work/out.txt" >&2
            exit 1
        fi
        local end=${EPOCHREALTIME/[^0-9]/}
        read -r _ u s m < <(tail -1 "$work/time.txt")
        walls+=("$(awk -v us=$((end - start)) 'BEGIN{printf "%.3f", us / 1e6}')")
        cpus+=("$(awk -v u="$u" -v s="$s" 'BEGIN{printf "%.2f", u+s}')")
        mems+=("$(awk -v m="$m" 'BEGIN{printf "%.1f", m/1024}')")
    done
    wall=$(printf '%s\n' "${walls[@]}" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
    cpu=$(printf '%s\n' "${cpus[@]}" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
    mem=$(printf '%s\n' "${mems[@]}" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}')
}

# measure_rounds PREP SIZE_PATH NAME CMD [NAME CMD...]: runs every command once per round,
# `repeat` rounds, each after PREP, so a slow spell of the machine or the file system falls on
# all of them alike; each round starts one command further on, so that none is always last
# (the system time of writing hundreds of megabytes grows from one command to the next within
# a round). Keeps each one's medians and the size of SIZE_PATH after it. pick NAME sets wall,
# cpu, mem and size from them.
declare -A RW RC RM RS
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END{print a[int((NR+1)/2)]}'; }
measure_rounds() {
    local prep=$1 sizePath=$2 i j k
    shift 2
    local -a names=() cmds=()
    while (($#)); do names+=("$1"); cmds+=("$2"); shift 2; done
    local -A ws=() cs=() ms=()
    for ((i = 0; i < repeat; ++i)); do
        for ((j = 0; j < ${#names[@]}; ++j)); do
            k=$(((i + j) % ${#names[@]}))
            measure "${names[$k]}" "$prep" "${cmds[$k]}" 1
            ws[$k]+=" $wall" cs[$k]+=" $cpu" ms[$k]+=" $mem"
            RS[${names[$k]}]=$(size_of "$sizePath")
        done
    done
    for k in "${!names[@]}"; do
        # shellcheck disable=SC2086
        RW[${names[$k]}]=$(median ${ws[$k]})
        # shellcheck disable=SC2086
        RC[${names[$k]}]=$(median ${cs[$k]})
        # shellcheck disable=SC2086
        RM[${names[$k]}]=$(median ${ms[$k]})
    done
}
pick() { wall=${RW[$1]} cpu=${RC[$1]} mem=${RM[$1]} size=${RS[$1]}; }

# Lets the file system finish with deleted files before the next timing (the test that only
# keeps this script working, whose figures nobody reads, sets QVR_BENCH_SETTLE=0).
# Where Linux reports the disk's pressure, also waits (up to a minute) until the last ten seconds
# were quiet: on a virtual disk, discarding thousands of deleted files can slow every tool
# several-fold for longer than the fixed wait.
settle() {
    sync
    sleep "${QVR_BENCH_SETTLE:-6}"
    [[ ${QVR_BENCH_SETTLE:-6} != 0 && -r /proc/pressure/io ]] || return 0
    local waited
    for ((waited = 0; waited < 60; waited += 2)); do
        awk '/^some/ { split($2, a, "="); exit !(a[2] < 1.0) }' /proc/pressure/io && return 0
        sleep 2
    done
}

size_of() { if [[ -e $1 ]]; then du -sb "$1" | cut -f1; else echo -; fi; }

# row WORK TOOL SIZE [QVR_WALL]: prints the last measurement, with qvr's wall time over this one.
row() {
    local ratio="" 
    [[ -n ${4:-} ]] && ratio=$(awk -v q="$4" -v p="$wall" 'BEGIN{ if (p > 0) printf "%.2f×", q/p; else print "-" }')
    printf '| %-22s | %-28s | %8s | %8s | %8s | %13s | %7s |\n' "$1" "$2" "$wall" "$cpu" "$mem" "$3" "$ratio"
}

run_profile() {
    local profile=$1 src out dest
    src=$(corpus_for "$profile")
    out="$work/out-$profile"
    dest="$work/dest-$profile"
    rm -rf "$out"
    mkdir -p "$out"
    settle
    local files bytes
    files=$(find "$src" -type f | wc -l)
    bytes=$(find "$src" -type f -printf '%s\n' | awk '{s+=$1} END{print s+0}')
    echo
    echo "### $profile: $files files, $bytes bytes; qvr -j $jobs; median of $repeat"
    echo
    echo "| Work                   | Tool                         |   wall s |    CPU s |  peak MB |  output bytes |   qvr/… |"
    echo "|------------------------|------------------------------|---------:|---------:|---------:|--------------:|--------:|"
    local q
    # The corpus is read once before timing so every packer finds it in the page cache.
    cat $(find "$src" -type f) >/dev/null 2>&1 || true
    cd "$src"

    measure "qvr create" "rm -f '$out/p.qvr'" "'$qvr' create -q -j $jobs '$out/p.qvr' ."
    q=$wall; row pack "qvr create -j $jobs" "$(size_of "$out/p.qvr")"
    # A member above 1 MiB is deflated in pieces on every core; one core is the yardstick.
    if [[ $profile == huge-member ]]; then
        # The same name, so the sizes compare (the bytes differ only by the packing time).
        mkdir -p "$out/j1"
        measure "qvr create -j 1" "rm -f '$out/j1/p.qvr'" "'$qvr' create -q -j 1 '$out/j1/p.qvr' ."
        row pack "qvr create -j 1" "$(size_of "$out/j1/p.qvr")" "$q"
        rm -rf "$out/j1"
    fi
    measure "zip" "rm -f '$out/p.zip'" "zip -9 -r -q '$out/p.zip' ."
    row pack "zip -9 -r -q" "$(size_of "$out/p.zip")" "$q"
    measure "tar|gzip" "rm -f '$out/p.tgz'" "tar -cf - . | gzip -9 > '$out/p.tgz'"
    row pack "tar -cf - \\| gzip -9" "$(size_of "$out/p.tgz")" "$q"
    measure "tar|pigz" "rm -f '$out/p.pigz.tgz'" "tar -cf - . | pigz -9 > '$out/p.pigz.tgz'"
    row pack "tar -cf - \\| pigz -9" "$(size_of "$out/p.pigz.tgz")" "$q"
    cd "$work"

    # Earlier targets are moved aside, not deleted (see set_aside).
    # sync: what the last tool left to write back must not slow the next one down.
    local fresh="if [ -e '$dest' ]; then mkdir -p '$trash' && mv '$dest' '$trash/'\$(date +%s%N); fi; mkdir -p '$dest'; sync"
    # qvr, as the peers, leaves the writing back of the files to the kernel (the next command on
    # the folder flushes them); the sync in the preparation keeps one tool's from the next's time.
    local tools=(qvr "'$qvr' install -q --overwrite '$out/p.qvr' '$dest'"
        tar "tar -xzf '$out/p.tgz' -C '$dest'"
        unzip "unzip -q '$out/p.zip' -d '$dest'")
    [[ -x $installer ]] && tools+=(installer "'$installer' '$out/p.qvr' '$dest'")
    measure_rounds "$fresh" "$dest" "${tools[@]}"
    pick qvr; q=$wall; row install "qvr install" "$size"
    pick tar; row install "tar -xzf" "$size" "$q"
    pick unzip; row install "unzip -q" "$size" "$q"
    if [[ -x $installer ]]; then
        # The ratio here is the installer's time over qvr's, the other way round.
        pick installer
        printf '| %-22s | %-28s | %8s | %8s | %8s | %13s | %7s |\n' install "QVRInstaller (offscreen)" \
            "$wall" "$cpu" "$mem" "$size" \
            "$(awk -v a="$wall" -v b="$q" 'BEGIN{ if (b > 0) printf "%.2f× qvr", a/b; else print "-" }')"
    fi
    if command -v 7z >/dev/null; then
        # The archives players download: the zip made above, and a 7z at 7z's usual level.
        (cd "$src" && 7z a -bd -y -mx=5 "$out/p.7z" . >/dev/null)
        # --root .: the corpus is taken as it is, as unzip and 7z take it.
        measure_rounds "$fresh" "$dest" \
            qvrzip "'$qvr' install -q --overwrite --root . '$out/p.zip' '$dest'" \
            unzip "unzip -q '$out/p.zip' -d '$dest'" \
            qvr7z "'$qvr' install -q --overwrite --root . '$out/p.7z' '$dest'" \
            7z "7z x -y -bd -o'$dest' '$out/p.7z' >/dev/null"
        pick qvrzip; q=$wall; row "install from .zip" "qvr install p.zip" "$size"
        pick unzip; row "install from .zip" "unzip -q" "$size" "$q"
        pick qvr7z; q=$wall; row "install from .7z" "qvr install p.7z" "$size"
        pick 7z; row "install from .7z" "7z x" "$size" "$q"
    fi
    set_aside "$dest"
    settle

    measure "qvr verify" ":" "'$qvr' verify -q '$out/p.qvr'"
    q=$wall; row verify "qvr verify" -
    measure "unzip -tq" ":" "unzip -tq '$out/p.zip'"
    row verify "unzip -tq" - "$q"

    measure "qvr list" ":" "'$qvr' list '$out/p.qvr' >/dev/null"
    q=$wall; row list "qvr list" -
    measure "unzip -l" ":" "unzip -l '$out/p.zip' >/dev/null"
    row list "unzip -l" - "$q"

    # Removing the smallest entry rewrites the package around everything else: for huge-member
    # that is copying the one large block.
    local victim
    # (sed reads the whole list: head would end sort with SIGPIPE, which pipefail counts.)
    victim=$(cd "$src" && find . -type f -printf '%s %P\n' | sort -n | sed -n '1s/^[0-9]* //p')
    measure "qvr remove" "cp '$out/p.qvr' '$out/r.qvr'" "'$qvr' remove -q '$out/r.qvr' '$victim'"
    q=$wall; row "remove one entry" "qvr remove" "$(size_of "$out/r.qvr")"
    measure "cp" "rm -f '$out/c.qvr'" "cp '$out/p.qvr' '$out/c.qvr'"
    row "remove one entry" "cp of the package" "$(size_of "$out/c.qvr")" "$q"
    rm -rf "$out"
}

# Targets are moved here and deleted only when the run ends. An ext4 without a journal (as on
# many virtual machines) passes over every inode freed in the last minute each time it makes a
# file, so creating thousands of files right after thousands were deleted can take several times
# as long; that would fall hardest on whichever tool is fastest. What an earlier run left is
# deleted first, and the minute after the last deletion waited out.
trash="$work/trash"
set_aside() { if [[ -e $1 ]]; then mkdir -p "$trash" && mv "$1" "$trash/$(date +%s%N)"; fi; }
deleted="$work/last-deletion"
trap 'if [[ -e $trash ]]; then rm -rf "$trash"; touch "$deleted"; fi' EXIT
if compgen -G "$work/trash*" >/dev/null || compgen -G "$work/dest-*" >/dev/null; then
    rm -rf "$trash" "$work"/trash-* "$work"/dest-*
    sync
    touch "$deleted"
fi
# An earlier run ending just now deleted its targets too.
if [[ ${QVR_BENCH_SETTLE:-6} != 0 && -e $deleted ]]; then
    age=$(($(date +%s) - $(stat -c %Y "$deleted")))
    ((age >= 61)) || sleep $((61 - age))
fi

echo "qvr bench: $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -m), $(nproc) cores," \
    "$(awk '/MemTotal/{printf "%.0f GB RAM", $2/1048576}' /proc/meminfo)," \
    "load $(cut -d' ' -f1-3 /proc/loadavg)"
for p in "${profiles[@]}"; do run_profile "$p"; done
