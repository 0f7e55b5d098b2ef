#!/bin/bash
# Captures that differencing alone gets wrong, in a fresh prefix: installer
# products that install files and keys the machine had, a COM server upgraded
# under unchanged keys, new Path folders and a shared DLL's usage count.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/env.sh"
prefix="$SCANCAP_WINE_ROOT/installer-analysis"
bash "$here/../wine/setup.sh" "$prefix" "$SCANCAP_DIST" >/dev/null || { echo "FAIL: prefix set-up"; exit 1; }
scancap_wine_env "$prefix"
work=$(mktemp -d)
trap 'rm -rf "$work"; bash "$here/../wine/teardown.sh" "$prefix"' EXIT
drive_c="$WINEPREFIX/drive_c"
exe='C:\scancap\scancap.exe'
. "$here/lib.sh"

mkdir -p "$drive_c/capture"
cp "$SCANCAP_BUILD"/fixtures/Acme*.msi "$SCANCAP_BUILD"/fixtures/ComSample-?.exe "$drive_c/capture/"
install() {
  run msiexec /i "C:\\capture\\Acme$1.msi" /qn; expect_rc "install Acme$1" 0
  run msiexec /i "C:\\capture\\Acme$2.msi" /qn; expect_rc "install Acme$2" 0
  run "C:\\capture\\ComSample-$3.exe" /S; expect_rc "install ComSample-$3" 0
}
# The first product of each pair and the first server before the first scan.
install MachineA UserA 1
run "$exe" 'C:\capture\pre.snapshot'; expect_rc "pre scan" 0
install MachineB UserB 2
run "$exe" 'C:\capture\post.snapshot'; expect_rc "post scan" 0
run "$exe" 'C:\capture\pre.snapshot' -Diff 'C:\capture\post.snapshot' 'C:\Project'
expect_rc "-Diff" 0

# Unchanged files that the products' databases and the shared-DLL count
# bring into the project, and the upgraded server.
user=$(ls "$drive_c/users" | grep -vx Public | head -n 1)
tr -d '\r' <"$work/out" | grep -iE 'acme|comsample' | LC_ALL=C sort >"$work/copied"
expect_text "copied files" "$work/copied" <<END
Copying c:\\AcmeData\\Shared\\shared.txt
Copying c:\\Program Files\\ComSample\\comserver.dll
Copying c:\\Program Files\\ComSample\\shared.dll
Copying c:\\users\\$user\\Desktop\\acme-notes.txt
END

# The keys that the installers wrote back unchanged, and VirtualPath with
# the folder that both Paths gained, as the user's Path spells it. Wine
# spells the machine's type-library key "Typelib", which the key rule, made
# for "TypeLib", passes by; the 32-bit views of that key are spelt TypeLib.
tail -c +3 "$drive_c/Project/HKEY_LOCAL_MACHINE.txt" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' |
  awk -v RS= -v ORS='\n\n' '/AcmeShared|0A1[12]}|0A13}.1.0.0.win32|VirtualPath/' >"$work/keys"
expect_text "HKEY_LOCAL_MACHINE.txt" "$work/keys" <<'END'
isolation_full HKEY_LOCAL_MACHINE\Software\AcmeShared
  Value=Shared
  REG_SZ~1#2300

isolation_full HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{5B0E6D2A-3C41-4E8F-9A17-6D2B8C4F0A11}
  Value=
  REG_SZ~ComSample Object#2300

isolation_full HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{5B0E6D2A-3C41-4E8F-9A17-6D2B8C4F0A11}\InprocServer32
  Value=
  REG_SZ~%ProgramFilesDir(x64)%\ComSample\comserver.dll#2300
  Value=ThreadingModel
  REG_SZ~Apartment#2300

isolation_full HKEY_LOCAL_MACHINE\Software\Classes\Interface\{5B0E6D2A-3C41-4E8F-9A17-6D2B8C4F0A12}

isolation_full HKEY_LOCAL_MACHINE\Software\Classes\Interface\{5B0E6D2A-3C41-4E8F-9A17-6D2B8C4F0A12}\ProxyStubClsid32
  Value=
  REG_SZ~{5B0E6D2A-3C41-4E8F-9A17-6D2B8C4F0A11}#2300

isolation_full HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\TypeLib\{5B0E6D2A-3C41-4E8F-9A17-6D2B8C4F0A13}\1.0\0\win32
  Value=
  REG_SZ~%ProgramFilesDir(x64)%\ComSample\comserver.dll#2300

isolation_full HKEY_LOCAL_MACHINE\Software\Wow6432Node\Classes\TypeLib\{5B0E6D2A-3C41-4E8F-9A17-6D2B8C4F0A13}\1.0\0\win32
  Value=
  REG_SZ~%ProgramFilesDir(x64)%\ComSample\comserver.dll#2300

isolation_writecopy HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment
  Value=VirtualPath
  REG_SZ~%ProgramFilesDir(x64)%\ComSample\BIN

END

# Without the packages that Windows Installer keeps, each product read ends
# in a warning with the system's message, and generation goes on.
rm "$drive_c"/windows/Installer/*.msi
run "$exe" 'C:\capture\pre.snapshot' -DiffPrint 'C:\capture\post.snapshot'
expect_rc "-DiffPrint without the packages" 0
grep '^Warning' "$work/out" >"$work/warnings"
printf 'Warning: While scanning Windows Installer info: Function failed.\r\n%.0s' 1 2 |
  expect_bytes "warnings without the packages" "$work/warnings"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "e2e_installer_analysis: all checks passed"
