#!/bin/sh
# Writes qvr's manual page from its own help texts: make_man.sh QVR_PROGRAM VERSION OUTPUT
# Every command's help goes into a COMMANDS section. The version is passed in, so the page
# does not depend on how the program reports it.
set -eu
program=$1
version=$2
output=$3
include=$(mktemp)
trap 'rm -f "$include"' EXIT

# Text taken literally into troff: backslashes doubled, a leading dot or quote escaped.
literal() {
    sed -e 's/\\/\\e/g' -e 's/^\([.'\'']\)/\\\&\1/'
}

commands=$("$program" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
{
    echo '[SYNOPSIS]'
    echo '.B qvr'
    printf '%s\n' '[\fB\-q\fR] [\fB\-v\fR] [\fB\-j\fR \fIN\fR] \fICOMMAND\fR [\fIARGS\fR]'
    echo '.br'
    echo '.B qvr'
    printf '%s\n' '\fICOMMAND\fR \fB\-\-help\fR'
    echo '[COMMANDS]'
    for command in $commands; do
        echo ".SS $command"
        echo '.nf'
        "$program" "$command" --help | literal
        echo '.fi'
    done
    echo '[FILES]'
    echo '.TP'
    echo '.I *.qvr'
    echo 'QVR archives: one plug-in with every file it uses, and its information and notes.'
    echo '.TP'
    echo '.I Morrowind.ini'
    echo 'Beside the data folder: its [Game Files] list is the load order \fBqvr check\fR reads.'
    echo '.TP'
    echo '.I openmw.cfg'
    echo 'OpenMW'"'"'s settings: \fBqvr check \-\-openmw\fR reads its data= and content= lines.'
    echo '[ENVIRONMENT]'
    echo '.TP'
    echo '.B SOURCE_DATE_EPOCH'
    echo 'When set, packing uses its time for every date the archive records apart from the'
    echo 'files'"'"' own, so the same files give the same bytes.'
    echo '[SEE ALSO]'
    echo '.BR QVRInstaller (1),'
    echo '.BR QVRPackager (1)'
} >"$include"

help2man --no-info --no-discard-stderr --section=1 --version-string="$version" \
    --name="pack, list, install and remove Morrowind plug-in archives" \
    --include="$include" --output="$output.new" "$program"
mv "$output.new" "$output"
