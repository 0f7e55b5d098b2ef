#!/bin/bash
# Makes a fresh Wine prefix for one test run, hardens it, copies the program
# into C:\scancap and leaves a persistent wineserver running.
#   setup.sh PREFIX [DIST_DIR]        (SCANCAP_SESSION_EXE: see below)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/env.sh"
prefix=$1
dist=${2:-}
scancap_wine_env "$prefix"

"$WINESERVER" -k >/dev/null 2>&1 || true
rm -rf "$prefix" "$HOME"
mkdir -p "$HOME" "$(dirname "$prefix")"

"$WINE" wineboot -i >/dev/null 2>&1 || true
"$WINESERVER" -w

# The profile folders wineboot linked into $HOME become real folders.
for link in "$prefix"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
done
# Drive Z: maps the whole Linux file system; scans must not see it.
rm -f "$prefix/dosdevices/z:"

if [ -n "$dist" ] && [ -d "$dist" ]; then
  rm -rf "$prefix/drive_c/scancap"
  cp -r "$dist" "$prefix/drive_c/scancap"
fi

# One wineserver for the whole run; the clean-up fixture stops it.
# SCANCAP_PERSIST=N lets it end by itself N seconds after its last client.
"$WINESERVER" -p${SCANCAP_PERSIST:-} </dev/null >/dev/null 2>&1
# Warm up: the first program started in a new prefix also starts Wine's
# services; let that happen before tests start in parallel.
(cd "$prefix/drive_c" && "$WINE" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1) || true
# With SCANCAP_SESSION_EXE, a desktop session that lasts until the clean-up
# stops the wineserver (see desktop_session.cpp). Detached from every pipe of
# the caller, so that nobody waits for it.
if [ -n "${SCANCAP_SESSION_EXE:-}" ] && [ -f "$SCANCAP_SESSION_EXE" ]; then
  (cd "$prefix/drive_c" && exec setsid "$WINE" "$SCANCAP_SESSION_EXE") </dev/null >/dev/null 2>&1 &
  # Returns once the desktop exists: a test that started it would have its output pipes held open.
  (cd "$prefix/drive_c" && "$WINE" "$SCANCAP_SESSION_EXE" 0) </dev/null >/dev/null 2>&1 || true
fi
echo "wine prefix ready: $prefix"
