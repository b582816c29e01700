#!/usr/bin/env bash
# The edit-build-test loop: rebuilds the default preset's test programs that a change reaches and
# runs their tests, leaving out the slow ones (ctest label slow).
#   scripts/quick.sh            the test programs that the build had to remake, plus those whose
#                               scripts or sources changed (git), without the slow tests
#   scripts/quick.sh LABEL...   the tests of those labels (core, qvr, gui, layers, package), built
#   --slow                      the slow tests too
# The first run configures and builds the whole default preset (with ccache when installed).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/default
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
start=$SECONDS

slow=0
labels=()
for a in "$@"; do
    case "$a" in
    --slow) slow=1 ;;
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "quick.sh: unknown option $a" >&2; exit 2 ;;
    *) labels+=("$a") ;;
    esac
done

if [[ ! -f $build/build.ninja ]]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake --preset default "${launcher[@]}" >/dev/null
fi

# Each test program and the label of its tests.
declare -A program_label=(
    [core/tests/core_tests]=core [qvr/tests/qvr_tests]=qvr
    [shared_windows/tests/shared_windows_tests]=gui [installer/tests/installer_tests]=gui
    [packager/tests/packager_tests]=gui)
declare -A label_targets=(
    [core]=core_tests [qvr]=qvr_tests [gui]="shared_windows_tests installer_tests packager_tests"
    [layers]="" [package]="qvr QVRInstaller QVRPackager")

if ((${#labels[@]} == 0)); then
    # What the build would remake (after CMake has re-read a changed CMakeLists.txt)...
    ninja -C "$build" build.ninja >/dev/null
    while read -r out; do
        [[ -n ${program_label[$out]:-} ]] && labels+=("${program_label[$out]}")
    done < <(ninja -C "$build" -n "${!program_label[@]}" 2>/dev/null |
        sed -n 's/^\[[0-9/]*\] Linking CXX executable //p')
    # ...and what changed that no build sees: test scripts, the layering check, desktop files.
    while read -r path; do
        case "$path" in
        scripts/layer-check.py | core/*/include/*) labels+=(layers) ;;&
        dist/*) labels+=(package) ;;
        qvr/tests/*.sh) labels+=(qvr) ;;
        esac
    done < <(git status --porcelain | cut -c4-)
fi
mapfile -t labels < <(printf '%s\n' "${labels[@]}" | sort -u | sed '/^$/d')
if ((${#labels[@]} == 0)); then
    echo "quick.sh: nothing to rebuild and no changed tests; name labels to run some (core, qvr, gui)"
    exit 0
fi
targets=()
for l in "${labels[@]}"; do
    [[ -v label_targets[$l] ]] || { echo "quick.sh: no label $l" >&2; exit 2; }
    read -ra t <<<"${label_targets[$l]}"
    targets+=("${t[@]}")
done
echo "== quick: ${labels[*]}"
((${#targets[@]} == 0)) || cmake --build "$build" -j "$jobs" --target "${targets[@]}"
filter=(-L "^($(IFS='|'; echo "${labels[*]}"))\$")
((slow)) || filter+=(-LE slow)
ctest --preset default -j "$jobs" "${filter[@]}"
echo "== quick: $((SECONDS - start)) s"
