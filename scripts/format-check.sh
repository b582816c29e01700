#!/usr/bin/env bash
# Fails when a C++ file in the repository is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format || command -v clang-format-14 || true)
if [ -z "$format" ]; then
    echo "format-check: clang-format is not installed" >&2
    exit 1
fi
git ls-files -z '*.cpp' '*.h' | xargs -0 "$format" --dry-run --Werror
echo "format-check: every file is formatted"
