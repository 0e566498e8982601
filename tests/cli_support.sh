# What the command-line test scripts share; sourced after $work is set.
#   run EXPECTED_EXIT PATTERN CMD...  the exit code, and PATTERN (grep -E) in
#                                     what the command printed
#   fail MESSAGE                      counts a failure
#   finish                            the verdict CTest looks for; the exit code
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

run() {
  local want=$1 pattern=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  if [ "$rc" != "$want" ]; then
    fail "exit $rc, not $want: $*"
    sed 's/^/    /' "$work/out" "$work/err"
  elif [ -n "$pattern" ] && ! cat "$work/out" "$work/err" | grep -qE -- "$pattern"; then
    fail "no /$pattern/ in the output of: $*"
    sed 's/^/    /' "$work/out" "$work/err"
  else
    echo "ok: $*"
  fi
}

finish() {
  if [ "$failures" -eq 0 ]; then
    echo "all checks passed"
  else
    echo "$failures checks failed"
    exit 1
  fi
}
