#!/usr/bin/env bash
# Drives the bash completion as bash would and checks what it offers:
#   completion_test.sh COMPLETION_SCRIPT QVR_PROGRAM
set -euo pipefail
source "$1"
program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir folder
touch a.qvr B.QVR c.zip notes.txt
status=0
# expect WORDS... -- EXPECTED: the words typed (the last one being completed), then the offer.
expect() {
    local words=() arg
    while [[ $1 != -- ]]; do
        words+=("$1")
        shift
    done
    shift
    COMP_WORDS=("$program" "${words[@]}")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _qvr
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    local want
    want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
    if [[ $got != "$want" ]]; then
        echo "FAIL: qvr ${words[*]}| offered [$got], expected [$want]"
        status=1
    fi
}
expect "in" -- info install installed
expect "-j" "" -- $(seq 1 "$(nproc)")
expect -q install "" -- folder a.qvr B.QVR
expect install a.qvr "" -- folder
expect install --o -- --openmw --overwrite
expect list "" -- folder a.qvr B.QVR c.zip
expect create --notes-file "" -- folder a.qvr B.QVR c.zip notes.txt
expect create a.qvr --name "My Mod" "" -- folder
expect create --n -- --name --notes-file
expect add a.qvr --folder "" --
expect help "ver" -- verify
expect "ch" -- check
expect check "" -- folder
expect check --j -- --json
exit $status
