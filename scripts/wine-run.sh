#!/bin/sh
# Starts one Windows program of the build under Wine, for ctest (the build's cross-compiling
# emulator when scripts/test-windows.sh configures it).
#
# Wine itself can end at once, with a failure status and without a word, before the program it
# was asked to start has run: seen in CI on a machine whose Wine has both loaders, one test of a
# few hundred, 0.02 s, no output. Every program started here says something before it can fail
# (a GoogleTest program prints its header first, brevomat-cli its log or its refusal), so a start
# that failed and printed nothing at all is taken for Wine's own and made once more, once: a
# program that fails having said anything, or fails twice, fails.
#
# Every such second start is written to standard error and, as a line "PROGRAM<tab>what happened",
# to the file named by BREVOMAT_WINE_RESTARTS: the test scripts count them after the suite and
# fail the run when there were more than a few (scripts/wine-restarts.sh). A program that needed
# one already in this run (the same file) is not started once more: it fails at once, since a
# program that Wine fails to start again and again is not one that was tested.
# Standard output is passed on as it comes (a test that overruns its time still shows how far it
# got); standard error is passed on when Wine has ended.
dir=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
trap 'cat "$dir/err" >&2 2>/dev/null; exit 143' TERM
trap 'cat "$dir/err" >&2 2>/dev/null; exit 130' INT
attempt=1
while :; do
  : >"$dir/err"
  { wine "$@" 2>"$dir/err"; echo $? >"$dir/status"; } | tee "$dir/out"
  status=$(cat "$dir/status" 2>/dev/null) || status=1
  if [ "$status" -eq 0 ] || [ -s "$dir/out" ] || [ -s "$dir/err" ] || [ "$attempt" -ge 2 ]; then
    break
  fi
  if [ -n "${BREVOMAT_WINE_RESTARTS:-}" ] && [ -f "$BREVOMAT_WINE_RESTARTS" ] &&
    cut -f 1 "$BREVOMAT_WINE_RESTARTS" | grep -qxF -- "$1"; then
    echo "wine-run: Wine ended with status $status before $1 said anything, and it had to be started once more earlier in this run already: not started again" >&2
    break
  fi
  line="Wine ended with status $status before $1 said anything; started once more ($(date -u +%H:%M:%S)): $*"
  echo "wine-run: $line" >&2
  if [ -n "${BREVOMAT_WINE_RESTARTS:-}" ]; then
    printf '%s\t%s\n' "$1" "$line" >>"$BREVOMAT_WINE_RESTARTS"
  fi
  attempt=$((attempt + 1))
done
cat "$dir/err" >&2
exit "$status"
