# shellcheck shell=bash
# Sourced by the test scripts: suite_passed WHAT LOG reads the number of tests from ctest's last
# lines in LOG ("100% tests passed, 0 tests failed out of N"), says "WHAT: N tests passed" and adds
# that line to the files named by BREVOMAT_SUMMARY (a list separated by colons) when it is set:
# .ci/run and scripts/test-windows.sh print them in their last lines.
# A ctest run that printed no such line, or found no test, did not run the suite: ends 1.
suite_passed() {
  local what=$1 log=$2 count
  count=$(suite_count "$log")
  if [ -z "$count" ] || [ "$count" = 0 ]; then
    echo "$what: ctest ended without saying how many tests ran: the suite did not run to its end"
    return 1
  fi
  suite_note "$what: $count tests passed"
}
# suite_note LINE: a line for the summary that is not a count (a suite left out, and why).
suite_note() {
  local file files
  echo "$1"
  IFS=: read -ra files <<<"${BREVOMAT_SUMMARY:-}"
  for file in "${files[@]}"; do echo "$1" >>"$file"; done
}
# suite_count LOG: the number of tests ctest said it ran in LOG (empty when it said none).
suite_count() {
  sed -n 's/.* tests failed out of \([0-9][0-9]*\).*/\1/p' "$1" 2>/dev/null | tail -n 1
}
# same_count LOG64 LOG32: the two Windows builds register the same suite, so a 32-bit run of
# another number of tests than the 64-bit one was cut short (or found other tests): ends 1 then.
same_count() {
  local n64 n32
  n64=$(suite_count "$1")
  n32=$(suite_count "$2")
  if [ -z "$n64" ] || [ "$n64" != "$n32" ]; then
    echo "the 32-bit suite ran ${n32:-no} tests, the 64-bit one ${n64:-no}: not the whole suite ran"
    return 1
  fi
}
