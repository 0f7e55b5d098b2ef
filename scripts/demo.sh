#!/bin/bash
# The main job end to end on the embedded sample: a fresh Wine prefix is
# scanned, the SampleNotes installer (built from tests/fixtures) runs in it
# silently, the prefix is scanned again, and the difference becomes a project
# directory, which is then shown.
#   scripts/demo.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
dist=$build/dist
installer=$build/fixtures/SampleNotes-1.2.3.exe
prefix=$build/wine/demo
[ -f "$dist/scancap.exe" ] || { echo "no $dist/scancap.exe: build first (cmake --build --preset mingw)" >&2; exit 1; }
[ -f "$installer" ] || { echo "no $installer: build first (cmake --build --preset mingw)" >&2; exit 1; }

. "$root/tests/wine/env.sh"
echo "== Making a fresh Wine prefix in $prefix"
bash "$root/tests/wine/setup.sh" "$prefix" "$dist" >/dev/null
scancap_wine_env "$prefix"
trap 'bash "$root/tests/wine/teardown.sh" "$prefix"' EXIT
drive_c=$prefix/drive_c
mkdir -p "$drive_c/capture"
cp "$installer" "$drive_c/capture/"
rm -rf "$drive_c/capture/project"

# summary NAME: entries, keys and values of a snapshot, its size and the scan time.
summary() {
  # The listing stays outside the prefix, so the second scan does not see it.
  local listing=$prefix.$1.txt
  scancap_wine 'C:\scancap\scancap.exe' "C:\\capture\\$1.snapshot" -Print >"$listing"
  printf '   %s: %d files and directories, %d registry keys, %d values, snapshot %d bytes, scanned in %ss\n' \
    "$1" "$(grep -c -E '^(File|Dir) ' "$listing")" "$(grep -c '^Subkey ' "$listing")" \
    "$(grep -c '^  Value ' "$listing")" "$(stat -c %s "$drive_c/capture/$1.snapshot")" "$2"
}

scan() {
  local start ms
  start=$(date +%s%N)
  scancap_wine 'C:\scancap\scancap.exe' "C:\\capture\\$1.snapshot"
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  summary "$1" "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
}

echo "== Scanning drive C: and the registry before the installation"
scan pre
echo "== Installing SampleNotes silently"
scancap_wine 'C:\capture\SampleNotes-1.2.3.exe' /S
echo "== Scanning again"
scan post
echo "== Generating the project"
scancap_wine 'C:\scancap\scancap.exe' 'C:\capture\pre.snapshot' -Diff 'C:\capture\post.snapshot' 'C:\capture\project' -Quiet

project=$drive_c/capture/project
echo
echo "== The project: $project"
(cd "$project" && find . -mindepth 1 | LC_ALL=C sort | sed 's|^\./|   |')
show_utf16() { tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r'; }
echo
echo "== Package.ini (first lines)"
show_utf16 "$project/Package.ini" | head -n 12 | sed 's/^/   /'
for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
  if [ -f "$project/$hive.txt" ]; then
    echo
    echo "== $hive.txt (SampleNotes keys)"
    show_utf16 "$project/$hive.txt" | grep -i -A8 'samplenotes' | head -n 40 | sed 's/^/   /'
  fi
done
echo
echo "== build.bat"
tr -d '\r' <"$project/build.bat" | sed 's/^/   /'
echo
echo "== Support\\Capture Machine Overview.txt"
show_utf16 "$project/Support/Capture Machine Overview.txt" | sed 's/^/   /'
