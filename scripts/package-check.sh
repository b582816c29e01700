#!/usr/bin/env bash
# Checks installing into a desktop: cmake --install into a staging folder (every file listed),
# the desktop entries, the archive type, then the two Debian packages: qvr (the tool, without
# Qt) and qvr-desktop (the two programs), their contents and dependencies, dpkg -i of qvr alone
# and then of both, the programs run from the installed paths as an ordinary user, dpkg -r.
# Needs root (or sudo) for dpkg.
set -euo pipefail
# Each output is taken whole before grep -q looks at it: grep ends at its match, and a writer
# still writing would die of the broken pipe, which pipefail counts as a failure.
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
tool_files=(usr/bin/qvr usr/share/man/man1/qvr.1.gz usr/share/bash-completion/completions/qvr)
desktop_files=(usr/bin/QVRInstaller usr/bin/QVRPackager
    usr/share/applications/qvrinstaller.desktop usr/share/applications/qvrpackager.desktop
    usr/share/mime/packages/qvr.xml usr/share/man/man1/QVRInstaller.1.gz
    usr/share/man/man1/QVRPackager.1.gz)
for size in 16 22 24 32 48 64 128 256; do
    desktop_files+=("usr/share/icons/hicolor/${size}x${size}/apps/qvrinstaller.png"
        "usr/share/icons/hicolor/${size}x${size}/apps/qvrpackager.png"
        "usr/share/icons/hicolor/${size}x${size}/mimetypes/application-x-qvr-archive.png")
done
expected=("${tool_files[@]}" "${desktop_files[@]}")
for f in "${expected[@]}"; do
    grep -qxF "./$f" "$work/staged" || fail "not installed: $f"
done
for size in 16 48 256; do
    identify -format '%wx%h\n' "$stage/usr/share/icons/hicolor/${size}x${size}/apps/qvrinstaller.png" |
        grep -qx "${size}x${size}" || fail "the ${size} pixel icon has another size"
done
for page in qvr QVRInstaller QVRPackager; do
    file=$stage/usr/share/man/man1/$page.1.gz
    gzip -t "$file" || fail "$page.1.gz is not a gzip file"
    rendered=$(zcat "$file" | MANWIDTH=80 groff -man -Tutf8 2>/dev/null)
    grep -qi "version" <<<"$rendered" || fail "the manual page of $page does not read"
done
grep -q "qvrinst.ini" <<<"$(zcat "$stage/usr/share/man/man1/QVRInstaller.1.gz")" ||
    fail "QVRInstaller's manual page does not say where its settings are"

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

step "cpack -G DEB: two packages"
rm -f "$build"/qvr_*.deb "$build"/qvr-desktop_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
tool_deb=$(ls "$build"/qvr_*.deb)
desktop_deb=$(ls "$build"/qvr-desktop_*.deb)
[[ $(ls "$build"/*.deb | wc -l) -eq 2 ]] || fail "not two .deb files: $(ls "$build"/*.deb)"
for deb in "$tool_deb" "$desktop_deb"; do
    echo "$deb"
    dpkg-deb -f "$deb" Package Version Maintainer Depends
    dpkg-deb -f "$deb" Maintainer | grep -q "@localhost" && fail "$deb: maintainer at localhost"
done
maintainer=$(grep -oP 'set\(QVR_PACKAGE_MAINTAINER "\K[^"]+' dist/CMakeLists.txt)
for deb in "$tool_deb" "$desktop_deb"; do
    [[ $(dpkg-deb -f "$deb" Maintainer) == "$maintainer" ]] || fail "$deb: another maintainer"
done
tool_depends=$(dpkg-deb -f "$tool_deb" Depends)
[[ $tool_depends == *zlib1g* && $tool_depends == *libdeflate* ]] ||
    fail "qvr does not depend on zlib and libdeflate: $tool_depends"
[[ $tool_depends != *qt* && $tool_depends != *Qt* ]] || fail "qvr depends on Qt: $tool_depends"
desktop_depends=$(dpkg-deb -f "$desktop_deb" Depends)
for need in "qvr (= " qt6-qpa-plugins libqt6widgets6; do
    [[ $desktop_depends == *"$need"* ]] || fail "qvr-desktop does not depend on $need"
done
packaged_files() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./||' | sort; }
packaged_files "$tool_deb" >"$work/packaged-tool"
packaged_files "$desktop_deb" >"$work/packaged-desktop"
for f in "${tool_files[@]}"; do
    grep -qxF "$f" "$work/packaged-tool" || fail "not in qvr: $f"
done
for f in "${desktop_files[@]}"; do
    grep -qxF "$f" "$work/packaged-desktop" || fail "not in qvr-desktop: $f"
done
grep -q qt "$work/packaged-tool" && fail "qvr holds a file of the windows"
control=$(dpkg-deb --ctrl-tarfile "$desktop_deb" | tar -t)
grep -qx './postinst' <<<"$control" || fail "no postinst"
grep -qx './postrm' <<<"$control" || fail "no postrm"

step "dpkg -i qvr alone: no Qt"
# Every Qt library qvr could pull in must be absent from its dependencies' closure too.
$sudo dpkg -i "$tool_deb"
/usr/bin/qvr --version
/usr/bin/qvr list "$work/Sample.qvr" >/dev/null
if ldd /usr/bin/qvr | grep -i qt; then fail "qvr loads Qt"; fi
[[ ! -e /usr/bin/QVRInstaller ]] || fail "qvr brought QVRInstaller"

step "dpkg -i qvr-desktop"
$sudo dpkg -i "$desktop_deb"
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
run_as_user() {
    (cd "$user_home" && "${as_user[@]}" env -u DISPLAY -u WAYLAND_DISPLAY HOME="$user_home" \
        XDG_CONFIG_HOME="$user_home/.config" XDG_RUNTIME_DIR="$user_home" "$@")
}
ls -A /usr/bin >"$work/bin-before"
for program in QVRInstaller QVRPackager; do
    # --version and --help answer without a window, so without any display.
    version=$(run_as_user "/usr/bin/$program" --version) || fail "$program --version failed"
    echo "$version"
    [[ $version == "$program $(dpkg-deb -f "$desktop_deb" Version)" ]] ||
        fail "$program --version printed '$version'"
    usage=$(run_as_user "/usr/bin/$program" --help) || fail "$program --help failed"
    grep -q "^Usage: $program" <<<"$usage" || fail "$program --help printed no usage"
    rc=0
    run_as_user env QT_QPA_PLATFORM=offscreen timeout 5 "/usr/bin/$program" \
        >"$work/$program.log" 2>&1 || rc=$?
    cat "$work/$program.log"
    [[ $rc -eq 0 || $rc -eq 124 ]] || fail "$program ended with status $rc"
    echo "$program: ran until stopped (status $rc)"
done
# The installer keeps its settings in the user's configuration folder, not beside itself.
[[ -f $user_home/.config/QVRInstaller/qvrinst.ini ]] ||
    fail "QVRInstaller kept no settings in the user's configuration folder"
rm -rf "$user_home"
ls -A /usr/bin | diff "$work/bin-before" - || fail "a program wrote into /usr/bin"

step "dpkg -r"
dpkg-query -L qvr qvr-desktop >"$work/owned"
$sudo dpkg -r qvr-desktop qvr
while read -r f; do
    [[ -d $f ]] && continue
    [[ ! -e $f ]] || fail "left behind after removal: $f"
done <"$work/owned"
[[ ! -e /usr/share/mime/application/x-qvr-archive.xml ]] || fail "the MIME type outlived the package"
echo "package-check: all good"
