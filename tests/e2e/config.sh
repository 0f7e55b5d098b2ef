#!/bin/bash
# The exclusion-list file of scancap.exe: a -Config list keeps a directory and
# a key in the snapshot without their contents; the search for Snapshot.ini
# (per-user folder, VX_ORIGIN folder, program folder, two module folders) and
# its probe log; missing list files.
set -uo pipefail
# Checks sit at the end of pipelines; their failures must count in this shell.
shopt -s lastpipe
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/env.sh"
scancap_wine_env "$SCANCAP_WINEPREFIX"
unset VX_ORIGIN

drive_c="$WINEPREFIX/drive_c"
exe='C:\scancap\scancap.exe'
key='HKCU\Software\scancap-e2e-config'
work=$(mktemp -d)

cleanup() {
  scancap_wine reg delete "$key" /f >/dev/null 2>&1
  rm -rf "$drive_c/cfg-e2e" "$work"
}
trap cleanup EXIT
cleanup
work=$(mktemp -d)

. "$here/lib.sh"

# expect_text NAME FILE: as expect_bytes, with a readable diff.
expect_text() {
  cat >"$work/expected"
  if ! cmp -s "$work/expected" "$2"; then
    fail "$1"
    diff "$work/expected" "$2" | head -40
  fi
}

# The error printer's output: a blank line, "Error: " and the message.
error_text() { printf '\nError: %s\n' "$1"; }

# The listing lines of one snapshot, without the banner and drive lines.
# Files of one directory come in the order the file system lists them, so
# the file part is sorted; keys and values keep their order.
listing() {
  run "$exe" "$1" -Print
  expect_rc "-Print $1" 0
  tr -d '\r' <"$work/out" | grep -E '^(Dir|File) ' | sort >"$work/files"
  tr -d '\r' <"$work/out" | grep -E '^(Subkey |  Value )' >"$work/keys"
}

# ---- fixtures ---------------------------------------------------------------
mkdir -p "$drive_c/cfg-e2e/tree/keep" "$drive_c/cfg-e2e/tree/skip/inner" "$drive_c/cfg-e2e/bin" \
  "$drive_c/cfg-e2e/origin"
echo a >"$drive_c/cfg-e2e/tree/keep/a.txt"
echo b >"$drive_c/cfg-e2e/tree/skip/inner/b.txt"
echo c >"$drive_c/cfg-e2e/tree/skip/c.txt"
scancap_wine reg add "$key\\Keep" /v kept /t REG_DWORD /d 1 /f >/dev/null 2>&1 || fail "reg add Keep"
scancap_wine reg add "$key\\Skip" /v hidden /t REG_DWORD /d 2 /f >/dev/null 2>&1 || fail "reg add Skip"
scancap_wine reg add "$key\\Skip\\Below" /v deeper /t REG_DWORD /d 3 /f >/dev/null 2>&1 || fail "reg add Below"

printf '[FileSystemIgnoreList]\r\n0001=C:\\cfg-e2e\\tree\\skip\r\n[RegistryIgnoreList]\r\n0001=HKEY_CURRENT_USER\\Software\\scancap-e2e-config\\Skip\r\n' \
  >"$drive_c/cfg-e2e/list.ini"

# ---- a -Config list ---------------------------------------------------------
run "$exe" 'C:\cfg-e2e\listed.snapshot' -Config 'C:\cfg-e2e\list.ini' 'C:\cfg-e2e\tree' \
  'HKEY_CURRENT_USER\Software\scancap-e2e-config'
expect_rc "scan with -Config" 0
listing 'C:\cfg-e2e\listed.snapshot'
expect_text "-Config list: the ignored directory has no entries" "$work/files" <<'EOF'
Dir C:\cfg-e2e\tree\keep
Dir C:\cfg-e2e\tree\skip
File C:\cfg-e2e\tree\keep\a.txt
EOF
printf 'Subkey HKEY_CURRENT_USER\\Software\\scancap-e2e-config\nSubkey HKEY_CURRENT_USER\\Software\\scancap-e2e-config\\Keep\n  Value kept\tData 0x00000001\nSubkey HKEY_CURRENT_USER\\Software\\scancap-e2e-config\\Skip\n' |
  expect_text "-Config list: the ignored key has no values or subkeys" "$work/keys"

# The same scan with the shipped list keeps everything.
run "$exe" 'C:\cfg-e2e\full.snapshot' 'C:\cfg-e2e\tree' 'HKEY_CURRENT_USER\Software\scancap-e2e-config'
expect_rc "scan with Snapshot.ini" 0
listing 'C:\cfg-e2e\full.snapshot'
expect_text "shipped list: the directory is complete" "$work/files" <<'EOF'
Dir C:\cfg-e2e\tree\keep
Dir C:\cfg-e2e\tree\skip
Dir C:\cfg-e2e\tree\skip\inner
File C:\cfg-e2e\tree\keep\a.txt
File C:\cfg-e2e\tree\skip\c.txt
File C:\cfg-e2e\tree\skip\inner\b.txt
EOF
printf 'Subkey HKEY_CURRENT_USER\\Software\\scancap-e2e-config\nSubkey HKEY_CURRENT_USER\\Software\\scancap-e2e-config\\Keep\n  Value kept\tData 0x00000001\nSubkey HKEY_CURRENT_USER\\Software\\scancap-e2e-config\\Skip\n  Value hidden\tData 0x00000002\nSubkey HKEY_CURRENT_USER\\Software\\scancap-e2e-config\\Skip\\Below\n  Value deeper\tData 0x00000003\n' |
  expect_text "shipped list: the key is complete" "$work/keys"

# ---- missing list files -----------------------------------------------------
run "$exe" 'C:\cfg-e2e\x.snapshot' -Config 'C:\cfg-e2e\absent.ini' 'C:\cfg-e2e\tree'
expect_rc "missing -Config file" 1
error_text 'Could not find file C:\cfg-e2e\absent.ini' | expect_bytes "missing -Config file" "$work/err"

run "$exe" 'C:\cfg-e2e\x.snapshot' -Config 'C:\cfg-e2e\tree' 'C:\cfg-e2e\tree'
expect_rc "folder as -Config file" 1
error_text 'Could not find file C:\cfg-e2e\tree' | expect_bytes "folder as -Config file" "$work/err"

# ---- the search for Snapshot.ini --------------------------------------------
# The program and its branding module alone in a folder of their own.
cp "$SCANCAP_DIST/scancap.exe" "$drive_c/cfg-e2e/bin/"
[ -f "$SCANCAP_DIST/Branding.dll" ] && cp "$SCANCAP_DIST/Branding.dll" "$drive_c/cfg-e2e/bin/"
alone='C:\cfg-e2e\bin\scancap.exe'
user=$(ls "$drive_c/users" | grep -vx Public | head -n 1)
per_user="C:\\users\\$user\\AppData\\Roaming\\Vendrix\\Snapshot.ini"
program_probes='Probed C:\cfg-e2e\bin\Snapshot.ini
Probed C:\cfg-e2e\bin\..\..\modules\Snapshot.ini
Probed C:\cfg-e2e\..\modules\Snapshot.ini
Could not find Snapshot.ini'

run "$alone" 'C:\cfg-e2e\x.snapshot' 'C:\cfg-e2e\tree'
expect_rc "no Snapshot.ini" 1
error_text "Error: Probed $per_user
$program_probes" | expect_bytes "no Snapshot.ini: the probe log" "$work/err"
[ -f "$drive_c/cfg-e2e/x.snapshot" ] && fail "no Snapshot.ini: a snapshot was written"

VX_ORIGIN='C:\cfg-e2e\origin\packager.exe' run "$alone" 'C:\cfg-e2e\x.snapshot' 'C:\cfg-e2e\tree'
expect_rc "no Snapshot.ini, VX_ORIGIN set" 1
error_text "Error: Probed $per_user
Probed C:\\cfg-e2e\\origin\\Snapshot.ini
$program_probes" | expect_bytes "no Snapshot.ini, VX_ORIGIN set: the probe log" "$work/err"

# Found in the VX_ORIGIN folder. The program's folder and the VX_ORIGIN folder
# are never scanned.
printf '[FileSystemIgnoreList]\r\n0001=C:\\cfg-e2e\\tree\\keep\r\n' >"$drive_c/cfg-e2e/origin/Snapshot.ini"
VX_ORIGIN='C:\cfg-e2e\origin\packager.exe' run "$alone" 'C:\cfg-e2e\origin.snapshot' 'C:\cfg-e2e'
expect_rc "Snapshot.ini in the VX_ORIGIN folder" 0
listing 'C:\cfg-e2e\origin.snapshot'
grep -v -e 'snapshot$' "$work/files" >"$work/files2"
expect_text "Snapshot.ini in the VX_ORIGIN folder" "$work/files2" <<'EOF'
Dir C:\cfg-e2e\bin
Dir C:\cfg-e2e\origin
Dir C:\cfg-e2e\tree
Dir C:\cfg-e2e\tree\keep
Dir C:\cfg-e2e\tree\skip
Dir C:\cfg-e2e\tree\skip\inner
File C:\cfg-e2e\list.ini
File C:\cfg-e2e\tree\skip\c.txt
File C:\cfg-e2e\tree\skip\inner\b.txt
EOF

if [ "$failures" -eq 0 ]; then
  echo "config: all checks passed"
  exit 0
fi
echo "config: $failures check(s) failed"
exit 1
