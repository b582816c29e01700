#!/usr/bin/env bash
# Writes the seeds of fuzz_sources: one small archive of each kind players download, each
# holding a plug-in, a wrapper folder and a numbered option. Needs python3 and 7z.
set -euo pipefail
out=${1:-$(cd "$(dirname "$0")" && pwd)/corpus/fuzz_sources}
rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/Mod/00 Core/Meshes" "$work/src/Mod/01 Extra/Textures"
printf 'TES3 plug-in bytes %.0s' {1..20} >"$work/src/Mod/00 Core/Mod.esp"
head -c 300 /dev/zero | tr '\0' 'x' >"$work/src/Mod/00 Core/Meshes/rock.nif"
printf 'texture' >"$work/src/Mod/01 Extra/Textures/rock.dds"
(cd "$work/src" && 7z a -bd -y "$out/solid.7z" Mod >/dev/null &&
    7z a -bd -y -ms=off -mx=1 "$out/plain.7z" Mod >/dev/null)
python3 - "$work/src" "$out" <<'PY'
import io, os, sys, tarfile, zipfile, zlib
src, out = sys.argv[1], sys.argv[2]
files = []
for folder, _, names in os.walk(src):
    for n in sorted(names):
        full = os.path.join(folder, n)
        files.append((os.path.relpath(full, src), open(full, 'rb').read()))
with zipfile.ZipFile(os.path.join(out, 'mod.zip'), 'w', zipfile.ZIP_DEFLATED) as z:
    for name, data in files:
        z.writestr(name, data)
# Stored and deflated members, each with its sizes in a descriptor behind the data (as a zip
# written to a pipe has them): the members the install reads straight from the file.
class Pipe(io.RawIOBase):
    def __init__(self, f):
        self.f = f
    def writable(self):
        return True
    def write(self, b):
        return self.f.write(b)
with open(os.path.join(out, 'mixed.zip'), 'wb') as f, zipfile.ZipFile(Pipe(f), 'w') as z:
    for k, (name, data) in enumerate(files):
        z.writestr(name, data, zipfile.ZIP_STORED if k % 2 else zipfile.ZIP_DEFLATED)
for mode, name in (('w', 'mod.tar'), ('w:gz', 'mod.tar.gz'), ('w:xz', 'mod.tar.xz')):
    with tarfile.open(os.path.join(out, name), mode) as t:
        t.add(os.path.join(src, 'Mod'), 'Mod')
# RAR5, stored, as its format documentation lays it out.
def vint(v):
    b = bytearray()
    while True:
        c = v & 0x7F
        v >>= 7
        b.append(c | (0x80 if v else 0))
        if not v:
            return bytes(b)
def header(fields):
    sized = vint(len(fields)) + fields
    return zlib.crc32(sized).to_bytes(4, 'little') + sized
rar = b'Rar!\x1a\x07\x01\x00' + header(vint(1) + vint(0) + vint(0))
for name, data in files:
    n = name.encode()
    rar += header(vint(2) + vint(2) + vint(len(data)) + vint(4) + vint(len(data)) + vint(0o100644)
                  + zlib.crc32(data).to_bytes(4, 'little') + vint(0) + vint(1) + vint(len(n)) + n)
    rar += data
rar += header(vint(5) + vint(0) + vint(0))
open(os.path.join(out, 'mod.rar'), 'wb').write(rar)
PY
ls "$out"
