#!/bin/sh
# Counts the second starts that scripts/wine-run.sh made in one run of a suite, as it listed them
# in LOG ("PROGRAM<tab>what happened", one a line; no file is none), and judges them:
#
#   sh scripts/wine-restarts.sh LOG WHAT
#
# Prints "WHAT: N Wine restarts" and the list. Ends 0 when there were at most BREVOMAT_WINE_RESTARTS_MAX
# (default 3) and no program needed two; 1 otherwise, saying why: a Wine that keeps ending before
# the programs run is a failure of the run, not something to retry around.
log=$1 what=$2 max=${BREVOMAT_WINE_RESTARTS_MAX:-3}
count=0
[ -f "$log" ] && count=$(grep -c . "$log")
echo "$what: $count Wine restarts (at most $max a run, one a program)"
[ "$count" -gt 0 ] || exit 0
echo "Wine ended before these programs had said anything, and each was started once more:"
cut -f 2- "$log"
status=0
if [ "$count" -gt "$max" ]; then
  echo "$what: $count Wine restarts in one run, more than $max: failed"
  status=1
fi
again=$(cut -f 1 "$log" | sort | uniq -d)
if [ -n "$again" ]; then
  echo "$what: these programs needed Wine to start them more than once: failed"
  echo "$again"
  status=1
fi
exit "$status"
