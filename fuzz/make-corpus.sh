#!/usr/bin/env bash
# Rewrites the committed seed corpus: packages and zip files made fresh, and the text seeds of
# the settings targets. Needs the fuzz preset built (fuzz_make_seeds) and zip.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
seeds=${1:-$here/../build/fuzz/fuzz/fuzz_make_seeds}
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
bash "$here/make-sources-corpus.sh" "$corpus/fuzz_sources"
du -sh "$corpus"
