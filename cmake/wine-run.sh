#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in the Wine prefix given first (made on first
# use; ctest runs programs side by side, so the making is done under a lock).
#   wine-run.sh WINEPREFIX PROGRAM.exe [ARGUMENTS...]
set -euo pipefail
export WINEPREFIX=$(realpath -m "$1")
shift
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# Unix arguments and file names reach the program as UTF-16 through the locale's encoding.
export LC_ALL=C.UTF-8
# No display: keep Wine from opening one and from offering to install Mono or Gecko.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        if [[ ! -f $WINEPREFIX/system.reg ]]; then
            wine wineboot -i >/dev/null 2>&1 || true
            wineserver -w
        fi
    ) 9>"$WINEPREFIX.lock"
fi
# A crash on a thread other than the first can end the program with status 0 once Wine's
# debugger has printed it: what Wine says on standard error is looked at as well.
said=$(mktemp)
trap 'rm -f "$said"' EXIT
set +e
{ wine "$@" 2>&1 >&3 3>&- | tee "$said" >&2 3>&-; } 3>&1 # standard output as it was
status=${PIPESTATUS[0]}
set -e
if grep -qa '^wine: Unhandled' "$said"; then
    echo "wine-run.sh: $1 crashed under Wine" >&2
    ((status)) || status=1
fi
exit "$status"
