#!/bin/bash
# In a fresh prefix: scan, install the SampleToolbox fixture, scan again, then
# "-SuggestName", "-SuggestProject" and "-GenerateProject" from the overview.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/env.sh"

prefix="$SCANCAP_WINE_ROOT/suggest"
installer="$SCANCAP_BUILD/fixtures/SampleToolbox-1.0.exe"
bash "$here/../wine/setup.sh" "$prefix" "$SCANCAP_DIST" >/dev/null || { echo "FAIL: prefix set-up"; exit 1; }
scancap_wine_env "$prefix"
work=$(mktemp -d)
trap 'bash "$here/../wine/teardown.sh" "$prefix"; rm -rf "$work"' EXIT
drive_c="$WINEPREFIX/drive_c"
exe='C:\scancap\scancap.exe'
. "$here/lib.sh"

utf8() { tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r'; }

mkdir -p "$drive_c/capture" && cp "$installer" "$drive_c/capture/"
run "$exe" 'C:\capture\pre.snapshot'; expect_rc "pre scan" 0
scancap_wine 'C:\capture\SampleToolbox-1.0.exe' /S </dev/null || fail "installer exit code $?"
run "$exe" 'C:\capture\post.snapshot'; expect_rc "post scan" 0

# The display name "Sample Toolbox [x64]  " without its trailing blanks and brackets.
run "$exe" 'C:\capture\pre.snapshot' -SuggestName 'C:\capture\post.snapshot'
expect_rc "-SuggestName" 0
printf 'Sample Toolbox x64\n' | expect_bytes "-SuggestName output" "$work/out"

run "$exe" 'C:\capture\pre.snapshot' -SuggestProject 'C:\capture\post.snapshot' 'C:\capture\Overview.ini'
expect_rc "-SuggestProject" 0
overview="$drive_c/capture/Overview.ini"
[ "$(head -c 2 "$overview" | od -An -tx1 | tr -d ' \n')" = fffe ] || fail "the overview has no byte-order mark"
utf8 "$overview" >"$work/overview"
for line in 'SuggestedName=Sample Toolbox x64' 'DestinationSnapshot=C:\capture\post.snapshot' \
            'AltArchitectureShortcut=1' ';MSIIs64Bit=0' 'InventoryIcon=%ProgramFilesDir(x64)%\SampleToolbox\applet.cpl' \
            ';OptionalAppLinks=plugins\*.exe'; do
  grep -qxF -- "$line" "$work/overview" || fail "the overview has no line $line"
done

# The applet is the primary entry (its data container disabled), both programs are disabled
# entries named after their files, the library without "CPlApplet" has no section.
sections() { sed -n '/^\[Sample Toolbox x64.dat\]$/,/^\[cmd.exe\]$/p' "$1" | grep -e '^\[' -e '^Source=' -e '^Disabled=' -e '^Shortcut' -e '^ReadOnlyData='; }
sections "$work/overview" >"$work/sections"
expect_bytes "overview entry sections" "$work/sections" <<'EOF'
[Sample Toolbox x64.dat]
Source=%ProgramFilesDir(x64)%\SampleToolbox\applet.cpl
ReadOnlyData=Package.ro.vxr
Disabled=1
[applet.exe]
Source=%ProgramFilesDir(x64)%\SampleToolbox\applet.cpl
ReadOnlyData=Package.ro.vxr
[Toolbox Shell.exe]
Source=%Common Programs%\Sample Toolbox\Toolbox Shell.bat
Shortcut=applet.exe
Shortcuts=%Programs%\Sample Toolbox
[tool32.exe]
Source=%ProgramFilesDir(x64)%\SampleToolbox\tool32.exe
Shortcut=applet.exe
Disabled=1
[toolbox.exe]
Source=%ProgramFilesDir(x64)%\SampleToolbox\toolbox.exe
Shortcut=applet.exe
Disabled=1
[cmd.exe]
EOF

# Package.ini keeps the entry sections without the keys only the overview uses.
run "$exe" 'C:\capture\Overview.ini' -GenerateProject 'C:\Project'
expect_rc "-GenerateProject" 0
utf8 "$drive_c/Project/Package.ini" >"$work/package"
for key in SuggestedName OriginalSnapshot DestinationSnapshot EstimatedDataContainerSize ForDebugOnly IsBrowser; do
  ! grep -q "^$key=" "$work/package" || fail "Package.ini keeps $key"
done
grep -qx 'AltArchitectureShortcut=1' "$work/package" || fail "Package.ini lost the build options"
sections "$work/package" >"$work/package-sections"
expect_bytes "Package.ini entry sections" "$work/package-sections" <"$work/sections"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "e2e_suggest: all checks passed"
