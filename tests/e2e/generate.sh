#!/bin/bash
# A whole capture in a fresh prefix: scan, install the SampleNotes fixture
# silently, scan again, then "-Diff" into a project and "-DiffPrint" of the
# same pair. Checks the project's files under their macro folders, the
# attribute files, the registry text files, Package.ini and build.bat, and
# the printed difference, all exactly.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/env.sh"

prefix="$SCANCAP_WINE_ROOT/generate"
installer="$SCANCAP_BUILD/fixtures/SampleNotes-1.2.3.exe"
[ -f "$installer" ] || { echo "FAIL: no installer fixture at $installer"; exit 1; }

bash "$here/../wine/setup.sh" "$prefix" "$SCANCAP_DIST" >/dev/null || { echo "FAIL: prefix setup"; exit 1; }
scancap_wine_env "$prefix"
work=$(mktemp -d)
trap 'bash "$here/../wine/teardown.sh" "$prefix"; rm -rf "$work"' EXIT

drive_c="$WINEPREFIX/drive_c"
exe='C:\scancap\scancap.exe'
failures=0

# Windows programs start inside drive C: (drive Z: is gone, so a Linux
# working directory has no Windows name).
win() { (cd "$drive_c" && "$WINE" "$@"); }

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect_bytes NAME FILE: FILE must hold exactly the bytes on standard input.
expect_bytes() {
  cat >"$work/expected"
  if ! cmp -s "$work/expected" "$2"; then
    fail "$1"
    diff <(od -c "$work/expected") <(od -c "$2") | head -40
  fi
}

# expect_text NAME FILE: as expect_bytes, for text; shows a readable diff.
expect_text() {
  cat >"$work/expected"
  if ! cmp -s "$work/expected" "$2"; then
    fail "$1"
    diff "$work/expected" "$2" | head -60
  fi
}

# The registry text files are UTF-16LE with a byte-order mark and CR LF.
utf8() { tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8; }

user=$(ls "$drive_c/users" | grep -vx Public | head -n 1)
appdata="c:\\users\\$user\\AppData\\Roaming"
mkdir -p "$drive_c/capture"
cp "$installer" "$SCANCAP_BUILD/fixtures/SharedTools.exe" "$drive_c/capture/"

# -Diff and -DiffPrint read this list instead of Snapshot.ini: the display
# driver key that Wine writes whenever a program first starts without a
# display is no part of the installation. With no browser-upgrade lists, the
# capture is exactly what the installer did.
printf '[RegistryIgnoreList]\r\n0001=HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video\r\n0002=HKEY_LOCAL_MACHINE\\Software\\SharedTools\\\\Dropped\r\n' \
  >"$drive_c/capture/generate.ini"

# Scans with the default bases: all of drive C, HKEY_LOCAL_MACHINE and
# HKEY_USERS, with the current user's hive as HKEY_CURRENT_USER.
win "$exe" 'C:\capture\pre.snapshot' >"$work/scan1" 2>&1 </dev/null || { cat "$work/scan1"; fail "pre scan"; }
win 'C:\capture\SampleNotes-1.2.3.exe' /S </dev/null || fail "installer exit code $?"
win "$exe" 'C:\capture\post.snapshot' >"$work/scan2" 2>&1 </dev/null || { cat "$work/scan2"; fail "post scan"; }
[ -f "$drive_c/Program Files/SampleNotes/samplenotes.exe" ] || fail "the installer installed nothing"

# ---- -Diff ----------------------------------------------------------------
win "$exe" 'C:\capture\pre.snapshot' -Diff 'C:\capture\post.snapshot' 'C:\Project' \
  -Config 'C:\capture\generate.ini' >"$work/diff" 2>"$work/differr" </dev/null
rc=$?
[ "$rc" = 0 ] || { fail "-Diff exit code $rc"; cat "$work/differr"; }
project="$drive_c/Project"

# Everything but the banner, in the order the file pass met the files.
tail -n +2 "$work/diff" | tr -d '\r' | grep -v '^Copying ' >"$work/diff-rest"
expect_text "-Diff console lines" "$work/diff-rest" <<'EOF'
Generating output project to directory C:\Project
Saving registry...
EOF
grep '^Copying ' "$work/diff" | tr -d '\r' | sort >"$work/copying"
expect_text "-Diff copies" "$work/copying" <<EOF
Copying c:\\Program Files\\SampleNotes\\samplenotes.exe
Copying c:\\Program Files\\SampleNotes\\uninstall.exe
Copying $appdata\\SampleNotes\\settings.ini
EOF

# The captured files, byte for byte and with their times, under the macro
# folders of this machine: C:\Program Files is the 64-bit program folder.
pf="$project/%ProgramFilesDir(x64)%/SampleNotes"
ad="$project/%AppData%/SampleNotes"
for pair in "$pf/samplenotes.exe|$drive_c/Program Files/SampleNotes/samplenotes.exe" \
            "$pf/uninstall.exe|$drive_c/Program Files/SampleNotes/uninstall.exe" \
            "$ad/settings.ini|$drive_c/users/$user/AppData/Roaming/SampleNotes/settings.ini"; do
  copy=${pair%%|*}; original=${pair#*|}
  if cmp -s "$copy" "$original"; then
    [ "$(stat -c %Y "$copy")" = "$(stat -c %Y "$original")" ] || fail "time of $copy"
  else
    fail "copy $copy differs from $original"
  fi
done
printf '[Window]\r\nWidth=640\r\nHeight=480\r\n' | expect_bytes "settings.ini content" "$ad/settings.ini"

# Exactly these files and folders make up the project.
(cd "$project" && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort) >"$work/tree"
expect_text "project tree" "$work/tree" <<'EOF'
%AppData%
%AppData%/##Attributes.ini
%AppData%/SampleNotes
%AppData%/SampleNotes/##Attributes.ini
%AppData%/SampleNotes/settings.ini
%Common AppData%
%Common AppData%/##Attributes.ini
%Desktop%
%Desktop%/##Attributes.ini
%Local AppData%
%Local AppData%/##Attributes.ini
%Personal%
%Personal%/##Attributes.ini
%Program Files Common%
%Program Files Common%/##Attributes.ini
%ProgramFilesDir%
%ProgramFilesDir%/##Attributes.ini
%ProgramFilesDir(x64)%
%ProgramFilesDir(x64)%/##Attributes.ini
%ProgramFilesDir(x64)%/SampleNotes
%ProgramFilesDir(x64)%/SampleNotes/##Attributes.ini
%ProgramFilesDir(x64)%/SampleNotes/samplenotes.exe
%ProgramFilesDir(x64)%/SampleNotes/uninstall.exe
%SystemRoot%
%SystemRoot%/##Attributes.ini
%SystemSystem%
%SystemSystem%/##Attributes.ini
%SystemSystem%/spool
%SystemSystem%/spool/##Attributes.ini
%SystemSystem(x64)%
%SystemSystem(x64)%/##Attributes.ini
%SystemSystem(x64)%/spool
%SystemSystem(x64)%/spool/##Attributes.ini
HKEY_CURRENT_USER.txt
HKEY_LOCAL_MACHINE.txt
HKEY_USERS.txt
Package.ini
Support
Support/Capture Machine Overview.txt
build.bat
EOF

printf '[Isolation]\r\nDirectoryIsolationMode=Full\r\n' | expect_bytes "captured program folder mode" "$pf/##Attributes.ini"
printf '[Isolation]\r\nDirectoryIsolationMode=Full\r\n' | expect_bytes "captured data folder mode" "$ad/##Attributes.ini"
for name in '%AppData%' '%Local AppData%' '%Common AppData%' '%SystemRoot%' '%SystemSystem%' \
            '%ProgramFilesDir%' '%ProgramFilesDir(x64)%' '%SystemSystem(x64)%' '%Program Files Common%'; do
  printf '[Isolation]\r\nDirectoryIsolationMode=WriteCopy\r\n' | expect_bytes "$name mode" "$project/$name/##Attributes.ini"
done
for name in '%Personal%' '%Desktop%' '%SystemSystem%/spool' '%SystemSystem(x64)%/spool'; do
  printf '[Isolation]\r\nDirectoryIsolationMode=Merged\r\n' | expect_bytes "$name mode" "$project/$name/##Attributes.ini"
done

# Registry text: every key the installer made, every value in its exact
# form; strings carry their terminating NUL as "#2300", "#" and "%" in data
# are escaped twice, the install folder is a folder macro.
utf8 "$project/HKEY_LOCAL_MACHINE.txt" >"$work/hklm-crlf"
tr -d '\r' <"$work/hklm-crlf" >"$work/hklm"
expect_text "HKEY_LOCAL_MACHINE.txt" "$work/hklm" <<'EOF'
isolation_full HKEY_LOCAL_MACHINE\Software\Classes\.snote
  Value=
  REG_SZ~SampleNotes.Document#2300

isolation_full HKEY_LOCAL_MACHINE\Software\Classes\SampleNotes.Document
  Value=
  REG_SZ~Sample Notes document#2300

isolation_full HKEY_LOCAL_MACHINE\Software\Classes\SampleNotes.Document\shell

isolation_full HKEY_LOCAL_MACHINE\Software\Classes\SampleNotes.Document\shell\open

isolation_full HKEY_LOCAL_MACHINE\Software\Classes\SampleNotes.Document\shell\open\command
  Value=
  REG_SZ~"%ProgramFilesDir(x64)%\SampleNotes\samplenotes.exe" "#23251"#2300

isolation_full HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\SampleNotes
  Value=DisplayName
  REG_SZ~Sample Notes#2300
  Value=DisplayVersion
  REG_SZ~1.2.3#2300
  Value=NoModify
  REG_DWORD=#01#00#00#00
  Value=Publisher
  REG_SZ~Sample Works#2300
  Value=UninstallString
  REG_SZ~"%ProgramFilesDir(x64)%\SampleNotes\uninstall.exe"#2300

isolation_full HKEY_LOCAL_MACHINE\Software\SampleNotes
  Value=Blob
  REG_BINARY=#01#02#a0#ff
  Value=Channels
  REG_MULTI_SZ~one#2300two#2300#2300
  Value=DataPath
  REG_EXPAND_SZ~#2325APPDATA#2325\SampleNotes#2300
  Value=Flags
  REG_DWORD=#07#00#00#00
  Value=InstallDir
  REG_SZ~%ProgramFilesDir(x64)%\SampleNotes#2300
  Value=Version
  REG_SZ~1.2.3#2300

isolation_full HKEY_LOCAL_MACHINE\Software\SampleNotes\Plugins
  Value=
  REG_SZ~none#2300

EOF
# The file itself: byte-order mark and CR LF line ends.
head -c 2 "$project/HKEY_LOCAL_MACHINE.txt" | od -An -tx1 | tr -d ' \n' >"$work/bom"
[ "$(cat "$work/bom")" = fffe ] || fail "HKEY_LOCAL_MACHINE.txt has no byte-order mark"
[ "$(grep -c $'\r$' "$work/hklm-crlf")" = "$(wc -l <"$work/hklm")" ] ||
  fail "HKEY_LOCAL_MACHINE.txt lines do not all end in CR LF"

utf8 "$project/HKEY_CURRENT_USER.txt" | tr -d '\r' >"$work/hkcu"
expect_text "HKEY_CURRENT_USER.txt" "$work/hkcu" <<'EOF'
isolation_full HKEY_CURRENT_USER\Software\SampleNotes
  Value=LastFile
  REG_SZ~#23231 100#2325#2300
  Value=WindowWidth
  REG_DWORD=#80#02#00#00

EOF
printf '\xff\xfe' | expect_bytes "HKEY_USERS.txt holds no key" "$project/HKEY_USERS.txt"

head -c 30 "$project/Package.ini" >"$work/package-head"
printf '\xff\xfe[\0B\0u\0i\0l\0d\0O\0p\0t\0i\0o\0n\0s\0]\0' | expect_bytes "Package.ini begins" "$work/package-head"
utf8 "$project/Package.ini" | tr -d '\r' >"$work/package"
grep -qx 'SandboxName=Project' "$work/package" || fail "Package.ini has no SandboxName=Project"
grep -qx 'OutDir=bin' "$work/package" || fail "Package.ini has no OutDir=bin"
grep -q $'^set TARGET_DIR=%PROJECT_DIR%\\\\bin\r$' "$project/build.bat" || {
  fail "build.bat has no TARGET_DIR line"; cat "$project/build.bat"; }

# ---- -DiffPrint ------------------------------------------------------------
win "$exe" 'C:\capture\pre.snapshot' -DiffPrint 'C:\capture\post.snapshot' \
  -Config 'C:\capture\generate.ini' >"$work/print" 2>"$work/printerr" </dev/null
rc=$?
[ "$rc" = 0 ] || { fail "-DiffPrint exit code $rc"; cat "$work/printerr"; }
tail -n +2 "$work/print" | tr -d '\r' >"$work/printed"
grep -v ' : ' "$work/printed" >"$work/print-rest"
expect_text "-DiffPrint console lines" "$work/print-rest" <<'EOF'
Generating output project to directory 
Saving registry...
EOF
grep ' : ' "$work/printed" | LC_ALL=C sort >"$work/entries"
expect_text "-DiffPrint entries" "$work/entries" <<EOF
CreatedDirectory : c:\\Program Files\\SampleNotes
CreatedDirectory : $appdata\\SampleNotes
CreatedFile      : c:\\Program Files\\SampleNotes\\samplenotes.exe
CreatedFile      : c:\\Program Files\\SampleNotes\\uninstall.exe
CreatedFile      : $appdata\\SampleNotes\\settings.ini
EOF
# A directory is printed before what lies in it.
line_of() { grep -nxF -- "$1" "$work/printed" | head -n 1 | cut -d: -f1; }
for dir in "c:\\Program Files\\SampleNotes|samplenotes.exe" "$appdata\\SampleNotes|settings.ini"; do
  d=${dir%%|*}; f=${dir#*|}
  a=$(line_of "CreatedDirectory : $d"); b=$(line_of "CreatedFile      : $d\\$f")
  [ -n "$a" ] && [ -n "$b" ] && [ "$a" -lt "$b" ] || fail "$d is not printed before $f"
done

# ---- all users: shared folders, whole components, a value left out, a failed copy
cat "$work/scan1" "$work/scan2" | grep -a Warning && fail "a scan of a fresh prefix warned"
rm -rf "$project" "$drive_c"/HKEY_*.txt "$drive_c/Support"  # what -DiffPrint wrote at the root
win 'C:\capture\SharedTools.exe' /S </dev/null || fail "all-users installer exit code $?"
win "$exe" 'C:\capture\shared.snapshot' >/dev/null 2>&1 </dev/null || fail "all-users scan"
rm "$drive_c/users/Public/Documents/SharedTools.txt"
win "$exe" 'C:\capture\post.snapshot' -Diff 'C:\capture\shared.snapshot' 'C:\Shared' \
  -Config 'C:\capture\generate.ini' >"$work/shared" 2>&1 </dev/null; [ $? = 2 ] || fail "-Diff exit code not 2"
tr -d '\r' <"$work/shared" | grep -a -e '^Warning' -e '^Error' >"$work/shared-tree"
(cd "$drive_c/Shared" && find . -path './%*' -type f ! -name '##Attributes.ini' | LC_ALL=C sort) >>"$work/shared-tree"
expect_text "all-users files, and the one that could not be copied" "$work/shared-tree" <<'EOF'
Warning: Could not copy file c:\users\Public\Documents\SharedTools.txt -> C:\Shared\%Common Documents%\SharedTools.txt
Error: 1 file(s) could not be copied
./%Common AppData%/SharedTools/data.txt
./%Common Programs%/SharedTools.lnk
./%Program Files Common%/SharedTools/x86.txt
./%ProgramFilesDir%/SharedTools/SharedTool.txt
./%ProgramFilesDir(x64)%/Common Files/SharedTools/x64.txt
EOF
utf8 "$drive_c/Shared/HKEY_LOCAL_MACHINE.txt" | tr -d '\r' >"$work/shared-hklm"
expect_text "all-users HKEY_LOCAL_MACHINE.txt" "$work/shared-hklm" <<'EOF'
isolation_full HKEY_LOCAL_MACHINE\Software\SharedTools
  Value=Command
  REG_SZ~"%ProgramFilesDir(x64)%\Common Files\SharedTools" /s#2300
  Value=Lists
  REG_SZ~%ProgramFilesDir%;%Program Files Common%#2300
  Value=Short
  REG_SZ~%ProgramFilesDir~001b\SharedTools\SharedTool.txt#2300
  Value=Sibling
  REG_SZ~C:\Program FilesX\y#2300

EOF

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "e2e_generate: all checks passed"
