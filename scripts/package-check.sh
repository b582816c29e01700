#!/usr/bin/env bash
# Checks installing into a desktop: cmake --install into a staging folder (every file listed),
# the desktop entries, the archive type, then the Debian package: its contents, dpkg -i, the
# programs run from the installed paths, dpkg -r. Needs root (or sudo) for dpkg.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/default
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "package-check: $*" >&2
    exit 1
}
step() { echo "== $*"; }

step "build"
cmake --preset default >/dev/null
cmake --build "$build" -j "$(nproc)" --target qvr QVRInstaller QVRPackager qvr_manpage qvr_icons

step "cmake --install into a staging folder"
stage=$work/stage
cmake --install "$build" --prefix "$stage/usr" >/dev/null
(cd "$stage" && find . -type f -o -type l | sort) | tee "$work/staged"
expected=(usr/bin/qvr usr/bin/QVRInstaller usr/bin/QVRPackager
    usr/share/applications/qvrinstaller.desktop usr/share/applications/qvrpackager.desktop
    usr/share/mime/packages/qvr.xml usr/share/man/man1/qvr.1
    usr/share/bash-completion/completions/qvr)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/qvrinstaller.png"
        "usr/share/icons/hicolor/${size}x${size}/apps/qvrpackager.png"
        "usr/share/icons/hicolor/${size}x${size}/mimetypes/application-x-qvr-archive.png")
done
for f in "${expected[@]}"; do
    grep -qxF "./$f" "$work/staged" || fail "not installed: $f"
done
for size in 16 48 256; do
    identify -format '%wx%h\n' "$stage/usr/share/icons/hicolor/${size}x${size}/apps/qvrinstaller.png" |
        grep -qx "${size}x${size}" || fail "the ${size} pixel icon has another size"
done
man -l "$stage/usr/share/man/man1/qvr.1" 2>/dev/null | grep -q "install" ||
    MANWIDTH=80 groff -man -Tutf8 "$stage/usr/share/man/man1/qvr.1" | grep -q install ||
    fail "the manual page does not read"

step "desktop-file-validate"
desktop-file-validate "$stage"/usr/share/applications/*.desktop

step "the archive type resolves"
share=$stage/usr/share
update-mime-database "$share/mime"
update-desktop-database -q "$share/applications"
mkdir -p "$work/home" "$work/sample/Meshes"
echo "TES3 sample" >"$work/sample/Sample.esp"
echo "mesh" >"$work/sample/Meshes/rock.nif"
"$stage/usr/bin/qvr" -q create "$work/Sample.qvr" --name "Sample" "$work/sample"
cp "$work/Sample.qvr" "$work/renamed.bin" # no extension: known by its magic bytes alone
query() {
    env -i PATH="$PATH" HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" \
        XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_DIRS="$share:/usr/share" xdg-mime query "$@"
}
for f in Sample.qvr renamed.bin; do
    type=$(query filetype "$work/$f")
    echo "$f: $type"
    [[ $type == application/x-qvr-archive ]] || fail "$f is taken for $type"
done
default=$(query default application/x-qvr-archive)
echo "opens with: $default"
[[ $default == qvrinstaller.desktop ]] || fail "QVR archives open with '$default'"

step "cpack -G DEB"
rm -f "$build"/qvr_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/qvr_*.deb)
echo "$deb"
dpkg-deb -f "$deb" Package Version Depends
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no dependency on Qt Widgets found"
dpkg-deb -f "$deb" Depends | grep -q zlib1g || fail "no dependency on zlib found"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||' | sort >"$work/packaged"
for f in "${expected[@]}"; do
    grep -qxF "$f" "$work/packaged" || fail "not in the package: $f"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postinst' || fail "no postinst"
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postrm' || fail "no postrm"

step "dpkg -i"
$sudo dpkg -i "$deb"
/usr/bin/qvr --version
/usr/bin/qvr list "$work/Sample.qvr" >/dev/null
[[ -f /usr/share/mime/application/x-qvr-archive.xml ]] || fail "the MIME database was not updated"
grep -q 'application/x-qvr-archive=.*qvrinstaller.desktop' /usr/share/applications/mimeinfo.cache ||
    fail "the desktop database was not updated"
# The programs must start and stay up until killed; a crash or an early failure is an error.
# They run as a desktop user would, not as root, with a home folder of their own.
user_home=$(mktemp -d)
as_user=()
if [[ $(id -u) -eq 0 ]]; then
    chown nobody: "$user_home"
    as_user=(runuser -u nobody --)
fi
ls -A /usr/bin >"$work/bin-before"
for program in QVRInstaller QVRPackager; do
    rc=0
    (cd "$user_home" && "${as_user[@]}" env HOME="$user_home" XDG_CONFIG_HOME="$user_home/.config" \
        XDG_RUNTIME_DIR="$user_home" QT_QPA_PLATFORM=offscreen timeout 5 "/usr/bin/$program") \
        >"$work/$program.log" 2>&1 || rc=$?
    cat "$work/$program.log"
    [[ $rc -eq 0 || $rc -eq 124 ]] || fail "$program ended with status $rc"
    echo "$program: ran until stopped (status $rc)"
done
rm -rf "$user_home"
ls -A /usr/bin | diff "$work/bin-before" - || fail "a program wrote into /usr/bin"

step "dpkg -r"
dpkg-query -L qvr >"$work/owned"
$sudo dpkg -r qvr
while read -r f; do
    [[ -d $f ]] && continue
    [[ ! -e $f ]] || fail "left behind after removal: $f"
done <"$work/owned"
[[ ! -e /usr/share/mime/application/x-qvr-archive.xml ]] || fail "the MIME type outlived the package"
echo "package-check: all good"
