#!/bin/bash
# Differencing benchmark: a 200,000-file tree (11,110 directories) and a
# 50,000-key registry subtree, scanned before and after a change that touches
# 1 % of both; then, in the same fresh prefix, the load of the two snapshots,
# "-DiffPrint -Quiet", "-Diff -Quiet" and a raw copy of the changed files,
# each timed inside its process (one warm-up, then RUNS runs; min and median).
#   run.sh BUILD_DIR DIFF_BENCH_EXE
# BENCH_REUSE=1 keeps the prefix and the two snapshots of an earlier run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
helper=$2
runs=${RUNS:-5}
. "$here/../../tests/wine/env.sh"
prefix="$build/wine/bench-diff"
if [ "${BENCH_REUSE:-0}" != 1 ] || [ ! -f "$prefix/drive_c/bench/post.snapshot" ]; then
  fresh=1
  bash "$here/../../tests/wine/setup.sh" "$prefix" "$build/dist" >/dev/null
else
  fresh=0
fi
scancap_wine_env "$prefix"
trap 'bash "$here/../../tests/wine/teardown.sh" "$prefix"' EXIT
drive_c="$WINEPREFIX/drive_c"
cp "$helper" "$drive_c/scancap/diff_bench.exe"
win() { (cd "$drive_c" && "$WINE" "$@"); }
# A desktop session that lasts as long as the benchmark, as on a Windows
# machine: see tests/wine/desktop_session.cpp. The teardown ends it.
win "$build/tests/desktop_session.exe" >/dev/null 2>&1 </dev/null &
sleep 2
# timed ARGS...: what the helper printed last on standard error.
timed() { win 'C:\scancap\diff_bench.exe' "$@" 2>&1 >/dev/null | tr -d '\r' | tail -n 1; }
stats() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {printf "%.0f %.0f", v[1], v[int((NR+1)/2)]}'; }
ratio() { echo "scale=2; ($1) / ($2)" | bc; }

key='Software\scancap-bench'
if [ "$fresh" = 1 ]; then
  mkdir -p "$drive_c/bench"
  echo "making the tree and the registry subtree..."
  python3 "$here/make_tree.py" create "$drive_c/bench/tree"
  win 'C:\scancap\diff_bench.exe' keys create "$key"
  scan() {
    local start end
    start=$(date +%s.%N)
    win 'C:\scancap\scancap.exe' "C:\\bench\\$1.snapshot" 'C:\bench\tree' "HKEY_CURRENT_USER\\$key" >/dev/null
    end=$(date +%s.%N)
    echo "scan $1: $(echo "$end - $start" | bc) s"
  }
  scan pre
  python3 "$here/make_tree.py" change "$drive_c/bench/tree" >"$drive_c/bench/changed.txt"
  win 'C:\scancap\diff_bench.exe' keys change "$key"
  scan post
fi
ls -l "$drive_c/bench/"*.snapshot | awk '{print $5, $9}'

pre='C:\bench\pre.snapshot'
post='C:\bench\post.snapshot'
load=(); print=(); pgen=(); pstart=(); diff=(); dgen=(); dload=(); dstart=(); copy=()
for i in $(seq 0 "$runs"); do
  l=$(timed load "$pre" "$post")
  p=$(timed run "$pre" -DiffPrint "$post" -Quiet)
  read -r ps pl pg <<<"$(timed phases "$pre" "$post")"
  # Each write starts from a clean disk: the previous run's files and their
  # removal are flushed first, so that neither side pays for the other's
  # write-back.
  rm -rf "$drive_c/bench/out"; sync
  d=$(timed run "$pre" -Diff "$post" 'C:\bench\out' -Quiet)
  rm -rf "$drive_c/bench/out"; sync
  read -r ds dl dg <<<"$(timed phases "$pre" "$post" 'C:\bench\out')"
  rm -rf "$drive_c/bench/raw"; sync
  c=$(timed copy 'C:\bench\changed.txt' 'C:\bench\raw')
  echo "run $i: load $l | -DiffPrint $p (start-up $ps, load $pl, generation $pg)" \
       "| -Diff $d (start-up $ds, load $dl, generation $dg) | raw copy $c   [ms]"
  [ "$i" = 0 ] && continue  # warm-up
  load+=("$l"); print+=("$p"); pgen+=("$pg"); pstart+=("$ps"); copy+=("$c")
  diff+=("$d"); dgen+=("$dg"); dload+=("$dl"); dstart+=("$ds")
done
copied=$(find "$drive_c/bench/out" -name '*.dat' | wc -l)
echo "files in the project: $copied (changed files: $(grep -c . "$drive_c/bench/changed.txt"))"
read -r L Lm <<<"$(stats "${load[@]}")"
read -r P Pm <<<"$(stats "${print[@]}")"
read -r PG PGm <<<"$(stats "${pgen[@]}")"
read -r PS PSm <<<"$(stats "${pstart[@]}")"
read -r D Dm <<<"$(stats "${diff[@]}")"
read -r DG DGm <<<"$(stats "${dgen[@]}")"
read -r DL DLm <<<"$(stats "${dload[@]}")"
read -r DS DSm <<<"$(stats "${dstart[@]}")"
read -r C Cm <<<"$(stats "${copy[@]}")"
echo "min (median) over $runs runs, ms:"
echo "  load of the two snapshots      $L ($Lm)"
echo "  -DiffPrint -Quiet, whole run   $P ($Pm)   start-up $PS ($PSm)"
echo "  -DiffPrint generation          $PG ($PGm)"
echo "  -Diff -Quiet, whole run        $D ($Dm)   start-up $DS ($DSm), load $DL ($DLm)"
echo "  -Diff generation               $DG ($DGm)"
echo "  raw copy of the changed files  $C ($Cm)"
echo "ratios (of minima):"
echo "  -DiffPrint generation / load          $(ratio "$PG" "$L")   (target <= 2)"
echo "  -DiffPrint whole run / load           $(ratio "$P" "$L")"
echo "  -Diff whole run / (raw copy + load)   $(ratio "$D" "$C + $L")   (target <= 1.3)"
echo "  -Diff load + generation / (raw copy + load)   $(ratio "$DL + $DG" "$C + $L")"
echo "  -Diff generation / raw copy           $(ratio "$DG" "$C")"
