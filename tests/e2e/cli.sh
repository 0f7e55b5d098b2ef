#!/bin/bash
# The command line of scancap.exe: version, usage errors, the banner and the
# branding module's search, the fatal-error path and the simple modes.
set -uo pipefail
# Checks sit at the end of pipelines; they must count in this shell.
shopt -s lastpipe
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/env.sh"

# Scans of the whole drive C: and files written to it: a prefix of its own,
# so no other test sees them.
prefix="$SCANCAP_WINE_ROOT/cli"
bash "$here/../wine/setup.sh" "$prefix" "$SCANCAP_DIST" >/dev/null || { echo "FAIL: prefix set-up"; exit 1; }
scancap_wine_env "$prefix"

work=$(mktemp -d)
trap 'rm -rf "$work"; bash "$here/../wine/teardown.sh" "$prefix"' EXIT
drive_c="$WINEPREFIX/drive_c"
exe='C:\scancap\scancap.exe'

. "$here/lib.sh"

# expect_contains NAME FILE TEXT
expect_contains() {
  grep -qF -- "$3" "$2" || { fail "$1: no \"$3\" in"; cat "$2"; }
}

first_line() { head -n 1 "$1" | tr -d '\r'; }

usage() {
  printf 'Error processing command-line arguments: %s\n' "$1"
  cat <<'USAGE'
Usage:
scancap.exe PreScanFileName.snapshot [BaseDir1]...[BaseDirN] [BaseReg1]...[BaseRegN]
scancap.exe PreScanFileName.snapshot PostScanFileName.snapshot OutDir [-Config ConfigFileName]
scancap.exe PreScanFileName.snapshot -Print
scancap.exe PreScanFileName.snapshot -SuggestName PostScanFileName.snapshot
scancap.exe PreScanFileName.snapshot -Diff PostScanFileName.snapshot OutDir [-Config ConfigFileName] [-Quiet]
scancap.exe PreScanFileName.snapshot -DiffPrint PostScanFileName.snapshot [-Config ConfigFileName] [-Quiet]
scancap.exe PreScanFileName.snapshot -Config ConfigFileName [BaseDir1]...[BaseDirN] [BaseReg1]...[BaseRegN]
scancap.exe PreScanFileName.snapshot -SuggestProject PostScanFileName.snapshot OutputTemplate.ini
scancap.exe OutputTemplate.ini -GenerateProject OutDir [-Config ConfigFileName]
scancap.exe CaptureFolderPath -installnative [-printlog]
  see help manual for examples
USAGE
}

# The error printer's line: a blank line, "Error:", a space, the message.
error_text() { printf '\nError: %s\n' "$1"; }
usage_error() {
  printf '\nError: '
  usage "$1"
  printf '\n'
}

banner='Vendrix Studio Scancap Tool Version 5.1.0-2079447, Built Aug 27 2014'

# --- version -----------------------------------------------------------------
run "$exe" a b -VERSION
expect_rc "version last" 0
printf '5.1.0-2079447\n' | expect_bytes "version output" "$work/out"
: | expect_bytes "version stderr" "$work/err"

run "$exe" -version -Print extra
expect_rc "version first" 0
printf '5.1.0-2079447\n' | expect_bytes "version before a usage error" "$work/out"

# --- usage errors --------------------------------------------------------------
run "$exe"
expect_rc "no argument" 1
usage_error "Expected Snapshot capture filename as first parameter" | expect_bytes "no argument" "$work/err"
: | expect_bytes "no argument: no banner" "$work/out"
grep -q "Press any key" "$work/err" && fail "no argument: waited for a key without a console"

run "$exe" x.snapshot -Print extra
expect_rc "-Print extra" 1
usage_error "Too many arguments specified for -Print" | expect_bytes "-Print extra" "$work/err"

run "$exe" x.snapshot C:\\ -
expect_rc "lone dash" 1
usage_error "Unknown parameter or incorrect syntax" | expect_bytes "lone dash" "$work/err"

run "$exe" x.snapshot -Diff y.snapshot out -Config c.ini -Quiet
expect_rc "-Config before -Quiet" 1
usage_error "Too many arguments specified for -Diff/-DiffPrint" | expect_bytes "-Config before -Quiet" "$work/err"

run "$exe" x.snapshot -SuggestProject y.snapshot o.ini -IESelection 3
expect_rc "-IESelection 3" 1
usage_error "-IESelection should be followed by a number 0-2" | expect_bytes "-IESelection 3" "$work/err"

mkdir -p "$drive_c/cli-e2e"
printf '[BuildOptions]\r\nOriginalSnapshot=C:\\cli-e2e\\pre.snapshot\r\n' >"$drive_c/cli-e2e/Overview.ini"
run "$exe" 'C:\cli-e2e\Overview.ini' -GenerateProject 'C:\cli-e2e\Project'
expect_rc "overview without DestinationSnapshot" 1
usage_error 'C:\cli-e2e\Overview.ini does not have entry [BuildOptions]->DestinationSnapshot' |
  expect_bytes "overview without DestinationSnapshot" "$work/err"

# --- banner and configuration ------------------------------------------------------
run "$exe" 'C:\cli-e2e\absent.snapshot' -print
expect_rc "print of a missing snapshot" 1
[ "$(first_line "$work/out")" = "$banner" ] || fail "banner: got '$(first_line "$work/out")'"

run "$exe" 'C:\cli-e2e\absent.snapshot' -SuggestName 'C:\cli-e2e\absent2.snapshot'
expect_rc "-SuggestName" 1
: | expect_bytes "-SuggestName prints no banner" "$work/out"

run "$exe" x.snapshot -Config 'C:\cli-e2e\absent.ini' 'C:\cli-e2e'
expect_rc "missing -Config file" 1
error_text 'Could not find file C:\cli-e2e\absent.ini' | expect_bytes "missing -Config file (not wrapped)" "$work/err"

run "$exe" 'C:\cli-e2e\absent.snapshot' -DiffPrint 'C:\cli-e2e\absent2.snapshot' -Quiet
expect_rc "-DiffPrint of missing snapshots" 1
{ printf '%s\n' "$banner"; printf 'Generating output project to directory \n'; } |
  expect_bytes "-DiffPrint names an empty directory" "$work/out"

# The program alone: no branding module anywhere, no Snapshot.ini beside it.
mkdir -p "$drive_c/cli-alone"
cp "$SCANCAP_DIST/scancap.exe" "$drive_c/cli-alone/"
run 'C:\cli-alone\scancap.exe' 'C:\cli-e2e\x.snapshot'
expect_rc "program alone" 1
[ "$(first_line "$work/out")" = " Scancap Tool Version 5.1.0-2079447, Built Aug 27 2014" ] ||
  fail "banner without branding: got '$(first_line "$work/out")'"
head -c 15 "$work/err" | expect_bytes "missing Snapshot.ini: Error twice" <(printf '\nError: Error: ')
expect_contains "missing Snapshot.ini" "$work/err" "Could not find Snapshot.ini"

# A module two levels up in a "modules" folder.
mkdir -p "$drive_c/cli-tree/a/b/bin" "$drive_c/cli-tree/a/modules"
cp "$SCANCAP_DIST/scancap.exe" "$drive_c/cli-tree/a/b/bin/"
cp "$SCANCAP_DIST/Branding.dll" "$drive_c/cli-tree/a/modules/"
run 'C:\cli-tree\a\b\bin\scancap.exe' 'C:\cli-e2e\x.snapshot' -Print
[ "$(first_line "$work/out")" = "$banner" ] || fail "branding two levels up: got '$(first_line "$work/out")'"

# --- scan ------------------------------------------------------------------------
run "$exe" 'C:\windows'
expect_rc "snapshot path names a directory" 1
{ printf '%s\n' "$banner"; printf 'Scanning system, this may take a few minutes...\n'; } |
  expect_bytes "scan start" "$work/out"
error_text 'Could not open C:\windows for writing' | expect_bytes "snapshot path names a directory" "$work/err"

mkdir -p "$drive_c/cli-data/sub"
printf 'hello' >"$drive_c/cli-data/sub/file.txt"
run "$exe" 'C:\cli-e2e\new\deeper\data.snapshot' 'C:\cli-data'
expect_rc "scan of one folder into new directories" 0
[ "$(head -c 16 "$drive_c/cli-e2e/new/deeper/data.snapshot" 2>/dev/null)" = "SnapshotVersion2" ] ||
  fail "scan of one folder: no snapshot file"
run "$exe" 'C:\cli-e2e\new\deeper\data.snapshot' -PRINT
expect_rc "print of the scan" 0
# One folder named as the only base: its files and the drives, no registry
# and no default base.
{ printf '%s\n' "$banner"; printf '%s\n' 'Dir C:\cli-data\sub' 'File C:\cli-data\sub\file.txt'; } |
  expect_bytes "one folder base lists only that folder" <(grep -v '^Drive ' "$work/out")
grep -q '^Drive c, Serial=' "$work/out" || fail "one folder base: no Drive line for c"

run "$exe" 'C:\cli-e2e\foo.snapshot' -Foo
expect_rc "unknown word is a directory base" 1
error_text 'Cannot access directory -Foo' | expect_bytes "unknown word is a directory base" "$work/err"

# The default bases: the drive, both machine hives and, in place of the
# user's own keys below HKEY_USERS, HKEY_CURRENT_USER. The progress thread
# names the current path once a second.
started=$(date +%s)
run "$exe" 'C:\cli-e2e\all.snapshot'
elapsed=$(( $(date +%s) - started ))
expect_rc "default scan" 0
{ printf '%s\n' "$banner"; printf 'Scanning system, this may take a few minutes...\n'; } |
  expect_bytes "default scan start" <(head -n 2 "$work/out")
progress=$(grep -c '^> ' "$work/out")
if grep '^> ' "$work/out" | grep -qvE '^> (c:\\|HKEY_)'; then fail "progress lines name a scan path"; fi
if [ "$elapsed" -ge 4 ] && [ "$progress" -eq 0 ]; then fail "no progress line in a scan of $elapsed s"; fi
run "$exe" 'C:\cli-e2e\all.snapshot' -Print
expect_rc "print of the default scan" 0
expect_contains "current user's hive" "$work/out" 'Subkey HKEY_CURRENT_USER\Software'
expect_contains "machine hive" "$work/out" 'Subkey HKEY_LOCAL_MACHINE\Software'
grep -qE '^Subkey HKEY_USERS\\S-1-5-21-[^\\]*\\' "$work/out" && fail "the user's own keys were scanned below HKEY_USERS"
grep -q '^File c:\\cli-data\\sub\\file.txt' "$work/out" || fail "drive c: was scanned"

# -Diff whose Package.ini cannot be written: the message goes to a message
# box, not to the console.
: >"$drive_c/cli-e2e/afile"
run "$exe" 'C:\cli-e2e\absent.snapshot' -Diff 'C:\cli-e2e\absent2.snapshot' 'C:\cli-e2e\afile '
expect_rc "Package.ini in a file" 1
{ printf '%s\n' "$banner"; printf 'Generating output project to directory C:\\cli-e2e\\afile \n'; } |
  expect_bytes "Package.ini in a file: stdout" "$work/out"
: | expect_bytes "Package.ini in a file: nothing on stderr" "$work/err"

# -SetupCapture: no banner, terse prefixes, raw UTF-16LE on both streams.
run "$exe" 'C:\cli-e2e\absent.snapshot' -DiffPrint 'C:\cli-e2e\absent2.snapshot' -SetupCapture
expect_rc "-SetupCapture" 1
printf 'I Generating output project to directory \n' | iconv -f UTF-8 -t UTF-16LE |
  expect_bytes "-SetupCapture stdout" "$work/out"
printf '\nE ' | iconv -f UTF-8 -t UTF-16LE | expect_bytes "-SetupCapture error line" <(head -c 6 "$work/err")
run "$exe" x.snapshot -Diff a b -SetupCapture -Bogus
expect_rc "-SetupCapture usage error" 1
{ printf '\nE '; usage "Too many arguments specified after -Diff/-DiffPrint, expected -Config, -Quiet, no parameters: found -Bogus"; printf '\n'; } |
  iconv -f UTF-8 -t UTF-16LE | expect_bytes "-SetupCapture usage error" "$work/err"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "cli: all passed"
