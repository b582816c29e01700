#!/usr/bin/env bash
# Builds the library, qvr and their tests for Windows with MinGW-w64 (with libdeflate built from
# Debian's source package, scripts/windows-libdeflate.sh) and runs them under Wine (Wine prefix
# in build/windows/wineprefix, made while the build runs). Prints the number of tests run and
# every skipped test with its reason, and checks the Qt programs for POSIX-only calls. Builds the
# default preset's qvr when it is missing, for the byte comparison.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
start=$SECONDS
linux_qvr="$root/build/default/qvr/qvr"
[[ -x $linux_qvr ]] || cmake --build --preset default --target qvr -j "$jobs"

bash scripts/windows-libdeflate.sh
cmake --preset windows -DQVR_LINUX_QVR="$linux_qvr" >/dev/null
# The prefix is made once, before tests start side by side; Wine takes a while to make it.
cmake/wine-run.sh "$root/build/windows/wineprefix" cmd /c exit 0 &
prefix=$!
cmake --build --preset windows -j "$jobs"
wait "$prefix"
log=build/windows/Testing/Temporary/LastTest.log
status=0
ctest --preset windows -j "$jobs" || status=$?

# Each test program prints its own totals; these are what ran under Wine.
ran=$(grep -ahE '^\[==========\] [0-9]+ tests? from .* ran' "$log" | awk '{s += $2} END {print s + 0}')
passed=$(grep -ahE '^\[  PASSED  \] [0-9]+ test' "$log" | awk '{s += $4} END {print s + 0}')
skipped=$(grep -ahE '^\[  SKIPPED \] [0-9]+ test' "$log" | awk '{s += $4} END {print s + 0}')
echo "== windows: $ran tests ran under Wine in the test programs: $passed passed, $skipped skipped"
if grep -aq '^Skipped on Wine: ' "$log"; then
    echo "Skipped on Wine only, with the reason:"
    grep -ah '^Skipped on Wine: ' "$log" | sed 's/^Skipped on Wine: /  /' | sort -u
else
    echo "No test was skipped on Wine."
fi
echo "qvr.exe under Wine:"
grep -ahE '^(same bytes|qvr.exe |No Linux qvr)' "$log" | sed 's/^/  /' || true
bash scripts/windows-portability.sh || status=1
echo "== windows step took $((SECONDS - start)) s"
exit "$status"
