#!/usr/bin/env bash
# Drives the bash completion as bash would and checks what it offers:
#   completion_test.sh COMPLETION_SCRIPT QVR_PROGRAM
set -euo pipefail
source "$1"
program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/here"
cd "$work/here"
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
    _qvr || true # bash completes without -e
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
expect install --o -- --openmw --options --overwrite
expect list "" -- folder a.qvr B.QVR c.zip
expect create --notes-file "" -- folder a.qvr B.QVR c.zip notes.txt
expect create a.qvr --name "My Mod" "" -- folder
expect create --n -- --name --notes-file
expect add a.qvr --folder "" --
expect help "ver" -- verify
expect "ch" -- check
expect check "" -- folder
expect check --j -- --json
expect "he" -- help

# After uninstall: archives, and the plug-ins recorded in the data folder QVRInstaller
# remembers, by name. A name comes from a package: it is offered as it is, never run.
export HOME=$work/home XDG_CONFIG_HOME=$work/config
mkdir -p "$work/data" "$XDG_CONFIG_HOME/QVRInstaller" "$work/mod/Meshes"
printf '[Settings]\r\nTESLocation=%s\r\n' "$work/data" >"$XDG_CONFIG_HOME/QVRInstaller/qvrinst.ini"
echo TES3 >"$work/data/Morrowind.esm"
echo mesh >"$work/mod/Meshes/m.nif"
pack_and_install() { # archive, plug-in name
    "$program" -q create "$work/$1" --name "$2" "$work/mod" &&
        "$program" -q install --overwrite "$work/$1" "$work/data" ||
        { echo "FAIL: could not install $1"; status=1; }
}
pack_and_install one.qvr 'My Mod'
pack_and_install two.qvr '$(touch pwned) "quoted"'
expect uninstall "" -- folder a.qvr B.QVR 'My Mod' '$(touch pwned) "quoted"'
expect uninstall "My" -- 'My Mod'
expect uninstall "My\ M" -- 'My Mod'
expect uninstall -n "\$" -- '$(touch pwned) "quoted"'
expect uninstall --openmw "" -- folder a.qvr B.QVR
expect uninstall "My Mod" "" -- folder
if [[ -e pwned ]]; then
    echo "FAIL: a plug-in's name was run as a command"
    status=1
fi
exit $status
