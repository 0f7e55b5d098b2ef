#!/bin/bash
# The cross-compiling emulator: runs a Windows program under this project's
# Wine prefix. Tests get the run's prefix in SCANCAP_WINEPREFIX; anything
# else (test discovery, benchmarks) gets a prefix of its own under --root,
# made on first use.
#   run.sh --root DIR PROGRAM.exe [ARGS...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/env.sh"
root=
if [ "${1:-}" = "--root" ]; then root=$2; shift 2; fi
prefix=${SCANCAP_WINEPREFIX:-}
if [ -z "$prefix" ]; then
  [ -n "$root" ] || { echo "run.sh: no prefix (set SCANCAP_WINEPREFIX or pass --root)" >&2; exit 2; }
  prefix="$root/tools"
  mkdir -p "$root"
  (
    flock 9
    if [ ! -f "$prefix/.scancap-ready" ]; then
      SCANCAP_PERSIST=60 bash "$here/setup.sh" "$prefix" >/dev/null
      touch "$prefix/.scancap-ready"
    fi
  ) 9>"$root/.tools.lock"
fi
scancap_wine_env "$prefix"
if [ -z "${SCANCAP_WINEPREFIX:-}" ]; then
  # This prefix's wineserver ends a minute after its last client. When it has
  # to start again, Wine's services start with it and would inherit this
  # program's output pipes, keeping them open (and the caller waiting) long
  # after the program exits; start them here, detached from our pipes.
  "$WINESERVER" -p60 </dev/null >/dev/null 2>&1
  (cd "$WINEPREFIX/drive_c" && "$WINE" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1) || true
fi
cd "$WINEPREFIX/drive_c" 2>/dev/null || true
exec "$WINE" "$@"
