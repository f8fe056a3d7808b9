# Sourced by the test scripts: suite_passed WHAT LOG reads the number of tests from ctest's last
# lines in LOG ("100% tests passed, 0 tests failed out of N"), says "WHAT: N tests passed" and adds
# that line to the file named by BREVOMAT_SUMMARY when it is set (.ci/run prints them at its end).
# A ctest run that printed no such line, or found no test, did not run the suite: ends 1.
suite_passed() {
  local what=$1 log=$2 count
  count=$(sed -n 's/.* tests failed out of \([0-9][0-9]*\).*/\1/p' "$log" 2>/dev/null | tail -n 1)
  if [ -z "$count" ] || [ "$count" = 0 ]; then
    echo "$what: ctest ended without saying how many tests ran: the suite did not run to its end"
    return 1
  fi
  echo "$what: $count tests passed"
  if [ -n "${BREVOMAT_SUMMARY:-}" ]; then echo "$what: $count tests passed" >>"$BREVOMAT_SUMMARY"; fi
}
# suite_note LINE: a line for the summary that is not a count (a suite left out, and why).
suite_note() {
  echo "$1"
  if [ -n "${BREVOMAT_SUMMARY:-}" ]; then echo "$1" >>"$BREVOMAT_SUMMARY"; fi
}
