#!/bin/bash
# The round trip of a capture: SampleNotes is captured in a fresh prefix A
# ("-Diff" into a project) and installed with "-installnative" in a fresh
# prefix B, which must then hold its files (content, last-write time) and
# registry values (type, bytes) as A does. Also the printed comparison of the
# two machines, the install's messages, and missing or damaged input.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/env.sh"
helper="$SCANCAP_BUILD/tests/scan_e2e_helper.exe"
a="$SCANCAP_WINE_ROOT/native-a" b="$SCANCAP_WINE_ROOT/native-b"
work=$(mktemp -d)
trap 'bash "$here/../wine/teardown.sh" "$a"; bash "$here/../wine/teardown.sh" "$b"; rm -rf "$work"' EXIT
. "$here/lib.sh"
exe='C:\scancap\scancap.exe'
for p in "$a" "$b"; do bash "$here/../wine/setup.sh" "$p" "$SCANCAP_DIST" >/dev/null || exit 1; done
utf8() { tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r'; }
# The application's registry keys, one sorted line per key and value.
dump_registry() {
  for key in 'HKLM Software\SampleNotes' 'HKLM Software\Classes\.snote' 'HKLM Software\Classes\SampleNotes.Document' \
             'HKLM Software\Microsoft\Windows\CurrentVersion\Uninstall\SampleNotes' 'HKCU Software\SampleNotes'; do
    scancap_wine "$helper" dump $key
  done | tr -d '\r' | LC_ALL=C sort
}
# The application's files with their content hashes and last-write times,
# the times as Windows sees them (in 100 ns units; Linux keeps nanoseconds).
list_files() {
  (cd "$WINEPREFIX/drive_c" && find 'Program Files/SampleNotes' users/*/AppData/Roaming/SampleNotes -type f \
     -exec stat -c '%n %y' {} \; -exec md5sum {} \; | sed -E 's/(\.[0-9]{7})[0-9]* / \1 /' | LC_ALL=C sort)
}

# ---- capture in A ------------------------------------------------------------
scancap_wine_env "$a"
cp "$SCANCAP_BUILD/fixtures/SampleNotes-1.2.3.exe" "$WINEPREFIX/drive_c/setup.exe"
run "$exe" 'C:\pre.snapshot'; expect_rc "pre scan" 0
run 'C:\setup.exe' /S; expect_rc "installer" 0
run "$exe" 'C:\post.snapshot'; expect_rc "post scan" 0
run "$exe" 'C:\pre.snapshot' -Diff 'C:\post.snapshot' 'C:\Project'; expect_rc "-Diff" 0
dump_registry >"$work/registry-a"; list_files >"$work/files-a"
grep -qx 'HKLM\\Software\\SampleNotes|Blob|3|0102a0ff' "$work/registry-a" && [ "$(wc -l <"$work/files-a")" = 6 ] ||
  fail "A's application is not all there"
report="$WINEPREFIX/drive_c/Project/Support/Capture Machine Overview.txt"
a_system=$(utf8 "$report" | grep -m1 '^Operating system: ')
a_user=$(utf8 "$report" | grep -m1 '^User name: ')
[ -n "$a_system" ] && [ -n "$a_user" ] || fail "the project's report has no facts"

# ---- install in B ------------------------------------------------------------
scancap_wine_env "$b"
# B is another machine: it tells another Windows version than the prefixes' own.
scancap_wine winecfg -v win10 >/dev/null 2>&1
cp -a "$a/drive_c/Project" "$WINEPREFIX/drive_c/"
cp "$report" "$work/report-before"
run "$exe" 'C:\Project' -installnative; expect_rc "-installnative" 0
tr -d '\r' <"$work/out" >"$work/install"
b_system=$(sed -n 9p "$work/install")
case "$b_system" in "Operating system: "*", version 10.0."*) ;; *) fail "deployed system line: $b_system";; esac
stars=$(printf '%80s' '' | tr ' ' '*')
expect_bytes "install output" "$work/install" <<EOF
$stars
***********************CAPTURE MACHINE INFORMATION******************************
$a_system
$a_user


$stars
***********************DEPLOYED MACHINE INFORMATION*****************************
$b_system
$a_user


EOF
cmp -s "$report" "$work/report-before" || fail "the capture folder's report changed"
[ "$(ls "$WINEPREFIX/drive_c/Project/Support")" = 'Capture Machine Overview.txt' ] || fail "Support folder"
dump_registry >"$work/registry-b"; list_files >"$work/files-b"
diff "$work/registry-a" "$work/registry-b" || fail "registry values differ between A and B"
diff "$work/files-a" "$work/files-b" || fail "files differ between A and B"
[ -z "$(cd "$WINEPREFIX/drive_c" && find . -name '##Attributes.ini' ! -path './Project/*')" ] ||
  fail "an attribute file was installed"

# A second install with -printlog overwrites and says what it did.
run "$exe" 'C:\Project' -INSTALLNATIVE -PrintLog
tr -d '\r' <"$work/out" | tail -n +13 >"$work/log"
grep -A1 -x 'Copied C:\\Project\\%ProgramFilesDir(x64)%\\SampleNotes\\samplenotes.exe ---> C:\\Program Files\\SampleNotes\\samplenotes.exe' \
  "$work/log" | tail -n 1 | grep -qx '' || fail "-printlog copy line"
grep -qx 'RegSetValueEx for key HKEY_CURRENT_USER\\Software\\SampleNotes and value LastFile passed' "$work/log" ||
  fail "-printlog value line"
[ "$(grep -c '^Copied .* ---> ' "$work/log") $(grep -c '^HKEY_.* created$' "$work/log") $(grep -c .  "$work/log")" = '3 9 29' ] ||
  { fail "-printlog lines"; cat "$work/log"; }

# ---- missing and damaged input -------------------------------------------------
run "$exe" 'C:\missing' -installnative
tr -d '\r' <"$work/out" | grep -v '^\*' | grep . >"$work/missing"
expect_bytes "missing folder" "$work/missing" <<'EOF'
ERROR: File C:\missing\Support\Capture Machine Overview.txt could not be opened
ERROR: File C:\missing\Support\Capture Machine Overview.txt could not be opened
WARNING: Folder C:\missing could not be listed lasterror=3
ERROR: File C:\missing\HKEY_CURRENT_USER.txt could not be opened
EOF
bad="$WINEPREFIX/drive_c/bad"
mkdir -p "$bad/%Bogus%"
# No byte-order mark (the first character is skipped in its place), an odd
# last byte, a "#" at a line's end: never a reason to read further.
{ printf 'Xdeleted HKEY_CURRENT_USER\\Software\\NativeBad\r\n'
  printf 'isolation_writecopy HKEY_CURRENT_USER\\Software\\NativeBad\r\n  value~#2325x\r\n'
  printf '  REG_BINARY=x#01\r\n  Value=s\r\n  REG_SZ=a#\r\n  Value=t\r\nisolation_full NOROOT\\X\r\n  REG_SZ=b'
} | iconv -f UTF-8 -t UTF-16LE >"$bad/HKEY_CURRENT_USER.txt"
printf 'Z' >>"$bad/HKEY_CURRENT_USER.txt"
: >"$bad/HKEY_LOCAL_MACHINE.txt"
run "$exe" 'C:\bad' -installnative
tr -d '\r' <"$work/out" | tail -n +14 >"$work/bad"
expect_bytes "damaged input" "$work/bad" <<'EOF'
WARNING: Folder C:\bad\%Bogus% names no folder of this machine
WARNING: There seems to be an error in parsing the file C:\bad\HKEY_CURRENT_USER.txt at line number 1
Error in ConvertToByteArray
EOF
scancap_wine "$helper" dump HKCU 'Software\NativeBad' | tr -d '\r' >"$work/bad-registry"
expect_bytes "damaged input registry" "$work/bad-registry" <<'EOF'
HKCU\Software\NativeBad|
HKCU\Software\NativeBad|%x|3|01
HKCU\Software\NativeBad|s|1|61002300
HKCU\Software\NativeBad|t|1|6200
EOF

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "e2e_native: all checks passed"
