#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail
packages=(cmake ninja-build clang-format g++ zlib1g-dev libgtest-dev libgmock-dev qt6-base-dev qt6-qpa-plugins
          libqt6test6 fonts-dejavu-core python3
          # Reading zip, 7z, rar and tar; 7z makes the tests' archives
          libarchive-dev p7zip-full
          # Installing into a desktop and the Debian package (scripts/package-check.sh)
          dpkg-dev desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl help2man
          imagemagick groff-base
          # The Windows build and its run under Wine (scripts/windows-test.sh)
          g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64
          # Whole members through libdeflate; the peers of the benchmark (bench/run.sh)
          libdeflate-dev zip unzip pigz time
          # The fuzz targets (scripts/fuzz-check.sh): clang with libFuzzer and its sanitizer runtimes
          clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    # dpkg -s also succeeds for a package that was removed but left its configuration behind.
    [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null) == ii* ]] || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    $sudo apt-get update -qq
    # Through env: sudo drops the caller's environment, and a question would stall the run.
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
