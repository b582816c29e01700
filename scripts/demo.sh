#!/usr/bin/env bash
# Shows qvr at work on a sample plug-in, with no display needed: sets up, builds the tool and
# the two programs, packs a plug-in folder, lists it, shows its information, installs it into a
# scratch data folder, checks the archive and removes the plug-in again. Where a display is
# available it then starts QVRInstaller, with the sample package kept for it to open.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh
cmake --preset default >/dev/null
targets=(qvr)
gui=""
[[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]] && gui=1 && targets+=(QVRInstaller QVRPackager)
cmake --build --preset default --target "${targets[@]}" -j "$(nproc)"
qvr="$root/build/default/qvr/qvr"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A sample plug-in folder laid out like the game's data folder.
corpus="$root/../shared/bench/make-corpus.py"
if [[ -f $corpus ]]; then
    python3 "$corpus" --profile tiny --out plugin --no-summary >/dev/null
else
    mkdir -p plugin/Meshes/Demo plugin/Textures/Demo plugin/Sound/Fx
    seq 1 20000 | sed 's/^/TES3 record /' >plugin/Demo.esp
    seq 1 5000 | sed 's/^/vertex /' >plugin/Meshes/Demo/rock.nif
    seq 1 8000 | sed 's/^/texel /' >plugin/Textures/Demo/rock.dds
    seq 1 3000 | sed 's/^/sample /' >plugin/Sound/Fx/rock.wav
fi
printf 'Adds a few things to the world.\nInstall with qvr or QVRInstaller.\n' >notes.txt

mkdir -p "Data Files"
printf 'master file stand-in' >"Data Files/Morrowind.esm"

show() {
    printf '\n$ qvr'
    printf ' %q' "$@"
    printf '\n'
    "$qvr" "$@"
}

show create demo.qvr --name "Demo Plug-in" --version 1.2 --authors "A. Modder" \
    --depends Morrowind.esm --notes-file notes.txt plugin
show list demo.qvr
show info demo.qvr
show install demo.qvr "Data Files"
printf '\n$ ls -R "Data Files" | head -20\n'
ls -R "Data Files" | head -20
show install demo.qvr "Data Files" --skip-existing
show verify demo.qvr
show uninstall demo.qvr "Data Files" --yes
printf '\n$ find "Data Files" -type f\n'
find "Data Files" -type f
printf '\nDone: the package was made, listed, installed, checked and removed again.\n'

if [[ -n $gui ]]; then
    cp demo.qvr "$root/build/default/demo.qvr"
    printf '\nStarting QVRInstaller: "Open QVR..." and pick %s\n' "$root/build/default/demo.qvr"
    "$root/build/default/installer/QVRInstaller"
fi
