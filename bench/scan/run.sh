#!/bin/bash
# Runs scan_bench in a prefix of its own, build/wine/bench-scan, which is kept
# between runs so the generated tree and registry subtree are made only once.
#   run.sh BUILD_DIR SCAN_BENCH_EXE SNAPSHOT_INI [scan_bench options...]
# Options also come from $SCAN_BENCH_ARGS.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
exe=$2
config=$3
shift 3
. "$here/../../tests/wine/env.sh"
prefix="$build/wine/bench-scan"
if [ ! -f "$prefix/.scan-bench-ready" ]; then
  bash "$here/../../tests/wine/setup.sh" "$prefix" >/dev/null
  touch "$prefix/.scan-bench-ready"
fi
scancap_wine_env "$prefix"
"$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
trap 'bash "$here/../../tests/wine/teardown.sh" "$prefix"' EXIT
# The program and its exclusion list lie where scancap.exe would (the list
# leaves out the program's own folder); the data goes to C:\bench.
mkdir -p "$WINEPREFIX/drive_c/scancap" "$WINEPREFIX/drive_c/bench"
cp "$exe" "$WINEPREFIX/drive_c/scancap/scan_bench.exe"
cp "$config" "$WINEPREFIX/drive_c/scancap/Snapshot.ini"
# shellcheck disable=SC2086
(cd "$WINEPREFIX/drive_c" && "$WINE" 'C:\scancap\scan_bench.exe' --config 'C:\scancap\Snapshot.ini' \
  ${SCAN_BENCH_ARGS:-} "$@")
