# Checks shared by the end-to-end scripts. A script sources this after
# setting $work (its scratch folder) and its Wine environment; failed checks
# are counted in $failures.
failures=0

# run PROGRAM ARGS...: standard output in $work/out, standard error in
# $work/err, exit code in $rc. Standard input is no console, so a fatal
# error never waits for a key.
run() {
  scancap_wine "$@" >"$work/out" 2>"$work/err" </dev/null
  rc=$?
}

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect_rc NAME CODE: the last run ended with CODE; its output is shown when not.
expect_rc() {
  [ "$rc" = "$2" ] || { fail "$1: exit code $rc, expected $2"; cat "$work/out" "$work/err"; }
}

# expect_bytes NAME FILE: FILE must hold exactly the bytes on standard input.
expect_bytes() {
  cat >"$work/expected"
  if ! cmp -s "$work/expected" "$2"; then
    fail "$1"
    echo "--- expected"; od -c "$work/expected" | head -40
    echo "--- actual"; od -c "$2" | head -40
  fi
}

# expect_text NAME FILE: as expect_bytes, for text; shows a readable diff.
expect_text() {
  cat >"$work/expected"
  cmp -s "$work/expected" "$2" || { fail "$1"; diff "$work/expected" "$2" | head -60; }
}
