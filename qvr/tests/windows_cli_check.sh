#!/usr/bin/env bash
# qvr.exe under Wine on a small plug-in folder: --help, create, list, info, install, verify and
# uninstall, and the package it makes is byte for byte the one the Linux qvr makes from the
# same folder with SOURCE_DATE_EPOCH set. Exit 77, a skip, when no Linux qvr is given.
#   windows_cli_check.sh WINE_RUN WINEPREFIX QVR_EXE LINUX_QVR
set -euo pipefail
wine_run=$1 prefix=$2 exe=$3 linux=${4:-}
if [[ -z $linux || ! -x $linux ]]; then
    echo "No Linux qvr to compare with (configure with -DQVR_LINUX_QVR=...): skipped"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
win() { "$wine_run" "$prefix" "$exe" "$@"; }

mkdir -p plugin/Meshes/Rock plugin/Textures plugin/Sound/Fx
seq 1 3000 | sed 's/^/TES3 record /' >plugin/Rock.esp
seq 1 900 | sed 's/^/vertex /' >plugin/Meshes/Rock/rock.nif
seq 1 700 | sed 's/^/texel /' >"plugin/Textures/Zoë rock.dds"
printf 'short' >"plugin/Sound/Fx/a b.wav"
find plugin -type f -exec touch -d '2020-05-06 07:08:09 UTC' {} +
printf 'First line\nSecond line\n' >notes.txt
export SOURCE_DATE_EPOCH=1600000000
mkdir lin win
opts=(--name "Rock" --version 1.0 --authors "A. Modder" --notes-file ../notes.txt -q)
(cd lin && "$linux" create Rock.qvr "${opts[@]}" ../plugin)
(cd win && win create Rock.qvr "${opts[@]}" ../plugin)
if ! cmp lin/Rock.qvr win/Rock.qvr; then
    echo "qvr.exe and the Linux qvr made different packages from the same folder"
    exit 1
fi
echo "same bytes: $(stat -c %s win/Rock.qvr)-byte package from qvr.exe and from the Linux qvr"

fail() { echo "$*"; exit 1; }
win --help | grep -q "uninstall" || fail "qvr.exe --help does not list its commands"
list=$(win list win/Rock.qvr | tr -d '\r')
# Paths as Windows writes them, so that they can be pasted back into a command there.
grep -qF 'Textures\Zoë rock.dds' <<<"$list" || fail "list lacks the non-ASCII name: $list"
win info win/Rock.qvr | tr -d '\r' | grep -q "A. Modder" || fail "info lacks the authors"
win verify win/Rock.qvr >/dev/null || fail "verify failed"
win install win/Rock.qvr "Data Files" -q </dev/null
for f in Rock.esp Meshes/Rock/rock.nif "Textures/Zoë rock.dds" "Sound/Fx/a b.wav"; do
    cmp "plugin/$f" "Data Files/$f" || fail "install did not write $f"
done
[[ ! -e "Data Files/Rock.qvr.ifo" ]] || fail "install wrote the information entry"
win uninstall win/Rock.qvr "Data Files" --yes -q </dev/null
left=$(find "Data Files" -type f | wc -l)
((left == 0)) || fail "uninstall left $left files"
echo "qvr.exe --help, create, list, info, verify, install and uninstall work under Wine"
