#!/bin/bash
# Scan mode end to end: a directory tree and a registry key prepared inside
# the test prefix are scanned into a snapshot file and listed with -Print;
# the file is reloaded and listed again; then damaged copies of it must be
# refused or listed, never crash the program.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/env.sh"
scancap_wine_env "$SCANCAP_WINEPREFIX"

work=$(mktemp -d)
drive_c="$WINEPREFIX/drive_c"
tree="$drive_c/e2e-tree"
out="$drive_c/e2e-out"
exe='C:\scancap\scancap.exe'
helper="$SCANCAP_BUILD/tests/scan_e2e_helper.exe"
key='HKCU\Software\scancap-e2e'
subkey='Software\scancap-e2e'
base_reg='HKEY_CURRENT_USER\Software\scancap-e2e'
failures=0

cleanup() {
  scancap_wine "$helper" unlock "$subkey\\locked" >/dev/null 2>&1
  scancap_wine reg delete "$key" /f >/dev/null 2>&1
  rm -rf "$tree" "$out" "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run ARGS...: scancap.exe's standard output in $work/out, standard error in
# $work/err, exit code in $rc. Standard input is no console, so a fatal error
# never waits for a key.
run() {
  scancap_wine "$exe" "$@" >"$work/out" 2>"$work/err" </dev/null
  rc=$?
}

[ -f "$helper" ] || { echo "FAIL: $helper is missing (build the test_scan target)"; exit 1; }

# --- the directory tree ------------------------------------------------------
# Made from the Linux side: Wine lists these files as they are. A Unix symbolic
# link to a directory is what Wine reports as a reparse point (it cannot store
# junctions): "link" is followed, "target/again" is followed when met first,
# and neither is followed below the other.
rm -rf "$tree" "$out"
mkdir -p "$tree"
(
  cd "$tree" || exit 1
  mkdir empty Beta target 'été' 'été/Ωmega'
  printf 'a' >alpha.txt
  printf 'g' >Beta/gamma.dat
  printf 'd' >Beta/.dotfile
  printf 'h' >hidden.txt
  printf 'r' >readonly.txt
  printf 'j' >'été/日本語.txt'
  printf 'i' >target/inner.txt
  ln -s target link
  ln -s ../target target/again
  printf 'l' >"$(printf 'n%.0s' {1..230}).txt"
  deep=deep
  for i in 1 2 3 4 5 6 7; do deep="$deep/level-$i-$(printf 'x%.0s' {1..40})"; done
  mkdir -p "$deep"
  printf 'b' >"$deep/bottom.txt"
) || fail "cannot make the tree"
long_name="$(printf 'n%.0s' {1..230}).txt"
deep='C:\e2e-tree\deep'
deep_dirs=()
for i in 1 2 3 4 5 6 7; do
  deep="$deep\\level-$i-$(printf 'x%.0s' {1..40})"
  deep_dirs+=("$deep")
done
scancap_wine attrib +h 'C:\e2e-tree\hidden.txt' >/dev/null 2>&1 || fail "attrib +h"
scancap_wine attrib +r 'C:\e2e-tree\readonly.txt' >/dev/null 2>&1 || fail "attrib +r"

# --- the registry key ----------------------------------------------------------
scancap_wine "$helper" unlock "$subkey\\locked" >/dev/null 2>&1
scancap_wine reg delete "$key" /f >/dev/null 2>&1
reg_add() { scancap_wine reg add "$@" /f >/dev/null 2>&1 || fail "reg add $*"; }
reg_add "$key" /ve /d 'default data'
reg_add "$key" /v sz /d 'hällo wörld ☃'
reg_add "$key" /v expand /t REG_EXPAND_SZ /d '%SystemRoot%\system32'
reg_add "$key" /v multi /t REG_MULTI_SZ /d 'one\0two'
reg_add "$key" /v binary /t REG_BINARY /d 0102ff
reg_add "$key" /v dword /t REG_DWORD /d 0x1234
reg_add "$key" /v qword /t REG_QWORD /d 0x100000000
reg_add "$key" /v none /t REG_NONE
reg_add "$key" /v emptysz /d ''
reg_add "$key\\sub1\\deeper" /v x /t REG_DWORD /d 1
reg_add "$key\\locked" /v secret /d 'never listed'
reg_add "$key\\ünïcode" /v 'wért' /d 'ünï'
helper() { scancap_wine "$helper" "$@" >/dev/null 2>&1 || fail "scan_helper $*"; }
# A REG_SZ of "abc" without terminator, a REG_DWORD of 8 bytes, an empty value.
helper setraw "$subkey" unterminated 1 610062006300
helper setraw "$subkey" dword8 4 0102030405060708
helper setraw "$subkey" zero 3 ''
# A key without values (reg add gives a new key an empty default value).
helper mkkey "$subkey\\Sub2"
# A key nobody may open: recorded by name only, silently.
helper lock "$subkey\\locked"

# --- scan ------------------------------------------------------------------------
run 'C:\e2e-out\first.snapshot' 'C:\e2e-tree' "$base_reg"
[ "$rc" = 0 ] || fail "scan: exit code $rc"
[ -s "$work/err" ] && { fail "scan wrote to standard error:"; cat "$work/err"; }
banner=$(sed -n 1p "$work/out")
[ -n "$banner" ] || fail "scan: no banner"
[ "$(sed -n 2p "$work/out")" = 'Scanning system, this may take a few minutes...' ] || fail "scan: second line"
# Anything after that is progress: "> " and the path being scanned.
if tail -n +3 "$work/out" | grep -qv '^> '; then
  fail "scan: unexpected output"
  cat "$work/out"
fi
[ "$(head -c 16 "$out/first.snapshot")" = SnapshotVersion2 ] || fail "snapshot magic"

# --- the listing -------------------------------------------------------------------
run 'C:\e2e-out\first.snapshot' -Print
[ "$rc" = 0 ] || fail "print: exit code $rc"
cp "$work/out" "$work/print1"
{
  printf '%s\n' "$banner"
  cat <<'EOF'
File C:\e2e-tree\alpha.txt
Dir C:\e2e-tree\Beta
File C:\e2e-tree\Beta\.dotfile
File C:\e2e-tree\Beta\gamma.dat
Dir C:\e2e-tree\deep
EOF
  for ((i = 0; i < 7; i++)); do printf 'Dir %s\n' "${deep_dirs[$i]}"; done
  printf 'File %s\\bottom.txt\n' "${deep_dirs[6]}"
  cat <<'EOF'
Dir C:\e2e-tree\empty
File C:\e2e-tree\hidden.txt
Dir C:\e2e-tree\link
Dir C:\e2e-tree\link\again
File C:\e2e-tree\link\inner.txt
EOF
  printf 'File C:\\e2e-tree\\%s\n' "$long_name"
  cat <<'EOF'
File C:\e2e-tree\readonly.txt
Dir C:\e2e-tree\target
Dir C:\e2e-tree\target\again
Dir C:\e2e-tree\target\again\again
File C:\e2e-tree\target\again\inner.txt
File C:\e2e-tree\target\inner.txt
Dir C:\e2e-tree\été
Dir C:\e2e-tree\été\Ωmega
File C:\e2e-tree\été\日本語.txt
Subkey HKEY_CURRENT_USER\Software\scancap-e2e
  Value 	Data default data
  Value binary	 Data Type 3
  Value dword	Data 0x00001234
  Value dword8	Invalid data size 8 for REG_DWORD
  Value emptysz	Data 
  Value expand	 Data Type 2
  Value multi	 Data Type 7
  Value none	 Data Type 0
  Value qword	 Data Type 11
  Value sz	Data hällo wörld ☃
  Value unterminated	Data abc
  Value zero
Subkey HKEY_CURRENT_USER\Software\scancap-e2e\locked
Subkey HKEY_CURRENT_USER\Software\scancap-e2e\sub1
Subkey HKEY_CURRENT_USER\Software\scancap-e2e\sub1\deeper
  Value x	Data 0x00000001
Subkey HKEY_CURRENT_USER\Software\scancap-e2e\Sub2
Subkey HKEY_CURRENT_USER\Software\scancap-e2e\ünïcode
  Value wért	Data ünï
EOF
  scancap_wine "$helper" drives | tr -d '\r'
} >"$work/expected"
grep -q '^Drive c, ' "$work/expected" || fail "no drive C in the expected listing"
if ! cmp -s "$work/expected" "$work/print1"; then
  fail "print: listing differs"
  diff "$work/expected" "$work/print1" | head -40
fi

# --- reload ------------------------------------------------------------------------
run 'C:\e2e-out\first.snapshot' -Print
cmp -s "$work/print1" "$work/out" || fail "second print of the same file differs"
# Two scans of an unchanged tree write the same bytes (the first scan may have
# touched directory access times).
run 'C:\e2e-out\second.snapshot' 'C:\e2e-tree' "$base_reg"
run 'C:\e2e-out\third.snapshot' 'C:\e2e-tree' "$base_reg"
cmp -s "$out/second.snapshot" "$out/third.snapshot" || fail "two scans of the same state differ"

# --- damaged files -------------------------------------------------------------------
# Every copy is the good file with one change: bytes overwritten at a random
# offset, a 32-bit field set to an extreme near the start (header, root arrays,
# first records), or a truncation. -Print must exit 0, or 1 with "Error:".
RANDOM=20260101
original="$out/second.snapshot"
size=$(stat -c %s "$original")
mutant="$out/mutant.snapshot"
extremes=('\xff\xff\xff\xff' '\xff\xff\xff\x7f' '\x00\x00\x01\x00' '\x14\x00\x00\x00' '\x00\x00\x00\x00' '\x01\x00\x00\x00')
crashes=0
listed=0
refused=0
for ((n = 0; n < 300; n++)); do
  cp "$original" "$mutant"
  big=$((RANDOM * 32768 + RANDOM))
  case $((n % 3)) in
    0)
      offset=$((16 + big % (size - 16)))
      count=$((1 + RANDOM % 8))
      bytes=
      for ((b = 0; b < count; b++)); do bytes="$bytes$(printf '\\x%02x' $((RANDOM % 256)))"; done
      what="$count random bytes at $offset"
      ;;
    1)
      span=$((size - 16 < 2048 ? size - 16 : 2048))
      offset=$((16 + 4 * ((big % span) / 4)))
      bytes=${extremes[$((RANDOM % ${#extremes[@]}))]}
      what="field at $offset set to $bytes"
      ;;
    2)
      offset=$((big % size))
      bytes=
      what="truncated to $offset bytes"
      truncate -s "$offset" "$mutant"
      ;;
  esac
  if [ -n "$bytes" ]; then
    printf "$bytes" | dd of="$mutant" bs=1 seek="$offset" conv=notrunc status=none
  fi
  (cd "$drive_c" && timeout 120 "$WINE" "$exe" 'C:\e2e-out\mutant.snapshot' -Print) >"$work/out" 2>"$work/err" </dev/null
  rc=$?
  case $rc in 0) listed=$((listed + 1)) ;; 1) refused=$((refused + 1)) ;; esac
  if [ "$rc" != 0 ] && [ "$rc" != 1 ]; then
    fail "mutation $n ($what): exit code $rc"
    head -5 "$work/err"
    crashes=$((crashes + 1))
  elif [ "$rc" = 1 ] && ! grep -q 'Error:' "$work/err"; then
    fail "mutation $n ($what): exit code 1 without an error message"
    echo "standard error:"; head -c 600 "$work/err"; echo
    echo "standard output:"; head -c 600 "$work/out"; echo
    # Still a failure; the second run only tells whether it repeats.
    (cd "$drive_c" && timeout 120 "$WINE" "$exe" 'C:\e2e-out\mutant.snapshot' -Print) >/dev/null 2>"$work/err2" </dev/null
    echo "the same file once more: exit code $?, standard error: $(head -c 300 "$work/err2")"
  elif grep -qiE 'unhandled|page fault|backtrace' "$work/err"; then
    fail "mutation $n ($what): crash report"
    head -5 "$work/err"
  fi
  [ "$crashes" -ge 5 ] && break
done
echo "damaged files: $listed listed, $refused refused"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "scan end-to-end: all checks passed"
