#!/bin/bash
# Shortcuts and registrations in the overview of the SampleViewer (NSIS) and SampleReader (MSI) fixtures.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/env.sh"
prefix="$SCANCAP_WINE_ROOT/registrations"
bash "$here/../wine/setup.sh" "$prefix" "$SCANCAP_DIST" >/dev/null || { echo "FAIL: prefix set-up"; exit 1; }
scancap_wine_env "$prefix"
work=$(mktemp -d)
trap 'bash "$here/../wine/teardown.sh" "$prefix"; rm -rf "$work"' EXIT
. "$here/lib.sh"

mkdir -p "$WINEPREFIX/drive_c/capture" && cp "$SCANCAP_BUILD/fixtures/SampleViewer-2.0.exe" "$SCANCAP_BUILD/fixtures/SampleReader.msi" "$WINEPREFIX/drive_c/capture/"
run C:/scancap/scancap.exe 'C:\capture\pre.snapshot'; expect_rc "pre scan" 0
scancap_wine 'C:\capture\SampleViewer-2.0.exe' /S </dev/null || fail "installer exit code $?"
scancap_wine msiexec /i 'C:\capture\SampleReader.msi' /qn </dev/null || fail "msiexec exit code $?"
run C:/scancap/scancap.exe 'C:\capture\post.snapshot'; expect_rc "post scan" 0
run C:/scancap/scancap.exe 'C:\capture\pre.snapshot' -SuggestProject 'C:\capture\post.snapshot' 'C:\capture\Overview.ini'; expect_rc "-SuggestProject" 0
tail -c +3 "$WINEPREFIX/drive_c/capture/Overview.ini" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' >"$work/overview"

# Mail line; shortcut, browser, service sections less the primary's name (Wine's msiexec writes plain links).
grep -x ';DefaultEmailProgram=.*' "$work/overview" >"$work/sections"
for name in 'Sample Viewer' 'Viewer 2.0 Safe Mode' 'Sample Browser' 'Sample Reader' helper; do
  sed -n "/^\[$name.exe\]\$/,/^\$/p" "$work/overview" | grep -v -e '^Shortcut=' -e 'ReadOnlyData' >>"$work/sections"
done
expect_bytes "overview sections" "$work/sections" <<'EOF'
;DefaultEmailProgram=mailer.exe
[Sample Viewer.exe]
Source=%ProgramFilesDir(x64)%\SampleViewer\viewer.exe
WorkingDirectory=%ProgramFilesDir(x64)%\SampleViewer
FileTypes=.svw
Protocols=sviewer
ObjectTypes=SampleViewer.Document
Shortcuts=%Programs%\Sample Viewer

[Viewer 2.0 Safe Mode.exe]
Source=%ProgramFilesDir(x64)%\SampleViewer\viewer.exe
WorkingDirectory=%ProgramFilesDir(x64)%\SampleViewer
CommandLine="%ProgramFilesDir(x64)%\SampleViewer\viewer.exe" /safe
Icon=%ProgramFilesDir(x64)%\SampleViewer\viewer.ico
Shortcuts=%Desktop%

[Sample Browser.exe]
Source=%ProgramFilesDir(x64)%\SampleViewer\browser.exe
WorkingDirectory=%ProgramFilesDir(x64)%\SampleViewer
Shortcuts=%Programs%\Sample Viewer
IsBrowser=1

[Sample Reader.exe]
Source=%ProgramFilesDir(x64)%\SampleReader\reader.exe
Shortcuts=%Programs%\Sample Reader

[helper.exe]
Source=%ProgramFilesDir(x64)%\SampleViewer\helper.exe
;Services=SampleViewerUpdate
Disabled=1

EOF

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; } && echo "e2e_registrations: all checks passed"
