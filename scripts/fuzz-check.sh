#!/usr/bin/env bash
# Builds the fuzz targets (in the sanitize preset, whose sanitized core they share with the
# tests), runs every target over its whole committed corpus and crash reproducers (ctest), then
# fuzzes each target for a short while (FUZZ_SECONDS, 10 by default), as many at once as there
# are cores. New inputs go to a scratch folder; the committed corpus is unchanged. A crash fails
# the script and leaves its reproducer under build/sanitize/findings/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== fuzz"
seconds=${FUZZ_SECONDS:-10}
jobs=$(nproc)
[[ -f build/sanitize/build.ninja ]] || cmake --preset sanitize >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz -j "$jobs"

targets=(fuzz_open fuzz_zip fuzz_extract fuzz_pluginfo fuzz_openmw_config fuzz_plugin_header
         fuzz_records fuzz_settings fuzz_sources)
findings=$PWD/build/sanitize/findings
rm -rf "$findings"
run() {
    local t=$1 dir=$findings/$1
    mkdir -p "$dir/new"
    if build/sanitize/fuzz/"$t" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
        -dict=fuzz/qvr.dict -artifact_prefix="$dir/" "$dir/new" "fuzz/corpus/$t" \
        >"$dir/log" 2>&1; then
        echo "$t: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$dir/log" | grep -o '[0-9]*$') runs in ${seconds}s, no crash"
    else
        echo "$t: FAILED (reproducer and log in $dir)"
        tail -40 "$dir/log"
        return 1
    fi
}
pids=()
failed=0
for t in "${targets[@]}"; do
    run "$t" &
    pids+=($!)
    if ((${#pids[@]} >= jobs)); then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
    fi
done
for p in "${pids[@]}"; do
    wait "$p" || failed=1
done
exit $failed
