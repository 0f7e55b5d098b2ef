#!/bin/bash
# The examples of the user's guide still run: every "C:\capture> " line of a
# fenced "console" block of docs/*.md (files in name order) runs in a prefix of
# its own, in C:\capture, with the sample installer beside it. The lines under
# it must match what the command prints (standard output and error together);
# a line "..." stands for any lines, "..." inside a line for any text. After
# "echo %ERRORLEVEL%" comes the exit code of the command before; any other
# command must end with 0 unless the guide shows its code that way.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/env.sh"
prefix="$SCANCAP_WINE_ROOT/guide"
bash "$here/../wine/setup.sh" "$prefix" "$SCANCAP_DIST" >/dev/null || { echo "FAIL: prefix set-up"; exit 1; }
scancap_wine_env "$prefix"
work=$(mktemp -d)
trap 'rm -rf "$work"; bash "$here/../wine/teardown.sh" "$prefix"' EXIT
. "$here/lib.sh"
capture="$WINEPREFIX/drive_c/capture"
mkdir -p "$capture" "$work/cases"
cp "$SCANCAP_BUILD/fixtures/SampleNotes-1.2.3.exe" "$capture/"

# One case per command: NNN.cmd (the command line), NNN.out (the lines shown).
awk -v dir="$work/cases" '
  FNR == 1 { inblock = 0 }
  /^```console$/ { inblock = 1; next }
  /^```/ { inblock = 0; next }
  inblock && /^C:\\capture> / { f = sprintf("%s/%03d", dir, ++n); print FILENAME ": " substr($0, 13) > (f ".cmd"); printf "" > (f ".out"); next }
  inblock && n { print > (f ".out") }
' "$here"/../../docs/*.md

# matches EXPECTED ACTUAL: the actual text matches the shown lines.
matches() {
  perl -0777 -e 'my ($e, $a) = map { open my $h, "<", $_ or die; local $/; my $t = <$h>; $t =~ s/\r//g; $t =~ s/\n*\z/\n/; $t } @ARGV;
    my $re = join "", map { $_ eq "..." ? "(?:.*\n)*?" : join(".*?", map { quotemeta } split /\.\.\./, $_, -1) . "\n" } split /\n/, $e;
    $re = "\n" if $re eq "";
    exit($a =~ /\A$re\z/ ? 0 : 1)' "$1" "$2"
}

rc=0 expected_rc=0 last=
for cmd in "$work"/cases/*.cmd; do
  read -r line <"$cmd"
  name=${line%%: *} line=${line#*: }
  case=${cmd%.cmd}
  if [ "$line" = 'echo %ERRORLEVEL%' ]; then
    echo "$rc" >"$work/out"
    expected_rc=$(head -n 1 "$case.out")
  else
    [ "$rc" = "$expected_rc" ] || fail "$last: exit code $rc, expected $expected_rc"
    # Words, or text between double quotes.
    mapfile -d '' args < <(perl -ne 'print defined $1 ? $1 : $2, "\0" while /"([^"]*)"|(\S+)/g' <<<"$line")
    # scancap.exe is the one in C:\scancap; a word that names no program is a command of cmd.
    case ${args[0]} in scancap.exe) args[0]='C:\scancap\scancap.exe' ;; *.exe) ;; *) args=(cmd /c "${args[@]}") ;; esac
    (cd "$capture" && "$WINE" "${args[@]}") >"$work/out" 2>&1 </dev/null
    rc=$? expected_rc=0 last="$name: $line"
  fi
  matches "$case.out" "$work/out" || { fail "$name: $line"; diff "$case.out" <(tr -d '\r' <"$work/out") | head -40; }
done
[ "$rc" = "$expected_rc" ] || fail "$last: exit code $rc, expected $expected_rc"
echo "$(ls "$work"/cases/*.cmd | wc -l) commands of the guide run, $failures failure(s)"
[ "$failures" = 0 ]
