#!/bin/sh
# Writes a window program's manual page from its --help and --version, which it answers without
# opening a window: make_program_man.sh PROGRAM NAME_LINE OUTPUT
set -eu
program=$1
name=$2
output=$3
include=$(mktemp)
trap 'rm -f "$include"' EXIT
self=$(basename "$program")
{
    echo '[SEE ALSO]'
    echo '.BR qvr (1),'
    if [ "$self" = QVRInstaller ]; then
        echo '.BR QVRPackager (1)'
    else
        echo '.BR QVRInstaller (1)'
    fi
} >"$include"
# No window is made for --help, so no display is needed; a platform that does not exist makes
# sure of it.
QT_QPA_PLATFORM=none help2man --no-info --section=1 --name="$name" --include="$include" \
    --output="$output.new" "$program"
mv "$output.new" "$output"
