#!/usr/bin/env bash
# Rewrites the committed seed corpus: packages and zip files made fresh, and the text seeds of
# the settings targets. Needs the sanitize preset built (fuzz_make_seeds) and zip.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seeds=${1:-$here/../build/sanitize/fuzz/fuzz_make_seeds}
corpus=$here/corpus
rm -rf "$corpus"
mkdir -p "$corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Two zip files: one stored and deflated with a folder, one with a single member.
mkdir -p "$work/src/Textures"
printf 'TES3 plug-in bytes %.0s' {1..20} >"$work/src/Mod.esp"
head -c 300 /dev/zero | tr '\0' 'x' >"$work/src/Textures/rock.dds"
(cd "$work/src" && zip -qX -r "$work/mod.zip" Mod.esp Textures && zip -qX -0 "$work/stored.zip" Mod.esp)
"$seeds" "$corpus" "$work/mod.zip" "$work/stored.zip"

mkdir -p "$corpus/fuzz_settings" "$corpus/fuzz_openmw_config"
printf '[Settings]\r\nDataFolder=C:\\Games\\Morrowind\\Data Files\r\nLast=x\r\n' \
    >"$corpus/fuzz_settings/settings"
printf '[Paths]\nLast=/home/a/mods\n[Settings]\nDataFolderOld=1\n' >"$corpus/fuzz_settings/lf"
printf '[Settings]\r\nDataFolder=Caf\xe9\r\n' >"$corpus/fuzz_settings/cp1252"
printf '# comment\r\ndata="C:\\Games\\Morrowind\\Data Files"\r\ndata="/mods/A &&B &"q&""\r\n' \
    >"$corpus/fuzz_openmw_config/crlf"
printf 'fallback-archive=Morrowind.bsa\ncontent=Morrowind.esm\ncontent=New.esp\n  data = /m/x  \ndata=/mods/New' \
    >"$corpus/fuzz_openmw_config/lf"
# The records beside a target, as installs write them: a data folder's (one reaching through
# the player's Textures link, one interrupted while removing) and the OpenMW list of lines.
mkdir -p "$corpus/fuzz_records"
printf '%s\n' '; What installing F.qvr wrote into this data folder, so that it can be removed again.' \
    'archive=F.qvr' 'name=My Mod' 'version=1.0' 'date=2026-12-08 10:52:22' 'sequence=1' \
    'state=installed' 'folder=Meshes\Mod' 'folder=Textures\Mod' 'link=Textures' \
    'file=N 1 d3d99e8b Meshes\Mod\a.nif' 'file=R 4 cbef8aed Textures\t.dds' \
    'backup=8 da07f1c3' >"$corpus/fuzz_records/installed"
printf '%s\r\n' 'archive=A.qvr' 'name=A' 'version=' 'date=2026-12-08 11:00:00' 'sequence=2' \
    'state=removing' 'file=R 5 0a1b2c3d Meshes\x.nif' 'file=N - - A.esp' \
    'step=pass-on Meshes\x.nif' 'later=3\Meshes\x.nif' 'step=delete A.esp' \
    >"$corpus/fuzz_records/removing"
printf '%s\n' 'folder=/home/player/mods/My Mod (2)' 'made=1' 'data=/home/player/mods/My Mod (2)' \
    'content=My Mod.esp' 'content=Patch.omwaddon' >"$corpus/fuzz_records/openmw-lines"
bash "$here/make-sources-corpus.sh" "$corpus/fuzz_sources"
du -sh "$corpus"
