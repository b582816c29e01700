#!/usr/bin/env bash
# Keeps the Qt programs portable to Windows while Qt for MinGW is not at hand on Debian:
# 1. no POSIX-only header or call in shared_windows/, installer/ and packager/ (the core's
#    platform layer is where such calls belong); a line may opt out with the
#    comment "posix-only:" and its reason, inside a guard of its own;
# 2. every source there that needs no Qt header compiles with MinGW for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
folders=(shared_windows installer packager)
posix='#include <(unistd|sys/[a-z]+|fcntl|pwd|grp|dirent|pty|poll|termios|dlfcn|libgen|spawn|glob)\.h>'
posix+='|\b(fork|execv|execvp|waitpid|getuid|geteuid|getpid|setenv|unsetenv|getpwuid|realpath|mkstemp|popen|pclose|fsync|isatty|chmod|chown|symlink|readlink|strftime_l|localtime_r|gmtime_r|pread|pwrite|ftruncate)\('
found=$(grep -rnE "$posix" "${folders[@]}" --include='*.cpp' --include='*.h' | grep -v 'posix-only:' || true)
if [[ -n $found ]]; then
    echo "POSIX-only code outside the platform layer (Windows has none of it):"
    echo "$found"
    exit 1
fi

cxx=x86_64-w64-mingw32-g++-posix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
includes=()
core_includes=()
for d in core/*/include; do core_includes+=(-I"$d"); done
while IFS= read -r d; do includes+=(-I"$d"); done < <(find "${folders[@]}" -name '*.h' -printf '%h\n' | sort -u)
# One source: ok, qt (reaches Qt or the test framework: left to a Windows build with Qt), or
# fail, with the compiler's words. On every core at once.
check() {
    local f=$1 err=$work/$(echo "$1" | tr / _).err
    if "$cxx" -std=c++20 -fsyntax-only "${core_includes[@]}" -I"$(dirname "$f")" "${includes[@]}" "$f" \
        2>"$err"; then
        echo ok
    elif grep -qE "fatal error: (Q[A-Za-z]+|qt[a-z/]*|ui_[a-z_]+\.h|gtest/gtest\.h|[A-Za-z/]*\.moc)[^:]*: No such file" "$err"; then
        echo qt
    else
        echo "fail $f"
    fi
}
export -f check
export cxx work
export core_includes_s="${core_includes[*]}" includes_s="${includes[*]}"
results=$(find "${folders[@]}" -name '*.cpp' | sort | xargs -P "$(nproc)" -I{} bash -c \
    'read -ra core_includes <<<"$core_includes_s"; read -ra includes <<<"$includes_s"; check "$1"' _ {})
failed=$(sed -n 's/^fail //p' <<<"$results")
if [[ -n $failed ]]; then
    for f in $failed; do
        echo "$f does not compile for Windows:"
        head -20 "$work/$(echo "$f" | tr / _).err"
    done
    exit 1
fi
checked=$(grep -cx ok <<<"$results" || true)
needqt=$(grep -cx qt <<<"$results" || true)
echo "Qt programs: no POSIX-only calls; $checked Qt-free sources compile with MinGW ($needqt need Qt)"
