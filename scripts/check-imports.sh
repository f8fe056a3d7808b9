#!/usr/bin/env bash
# Checks that Windows programs import nothing the oldest Windows they claim to run on lacks.
#
#   check-imports.sh OLDEST PROGRAM...     OLDEST: xpsp3 (the 32-bit build) or 7 (the 64-bit one)
#
# Windows refuses to start a program that imports a DLL or a function its own DLLs do not have,
# so every imported function (DLL and name, or DLL and ordinal) must be in the list of allowed
# imports, dist/windows/allowed-imports.txt, with a Windows version no newer than OLDEST. The
# import tables are read with the cross-toolchain's objdump (OBJDUMP, default: the x86-64 one,
# which reads 32-bit programs too). Ends 1, naming each offending import, when one is not allowed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
list=${ALLOWED_IMPORTS:-$here/dist/windows/allowed-imports.txt}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
[ $# -ge 2 ] || {
  echo "usage: $0 xpsp3|7 PROGRAM..." >&2
  exit 2
}
oldest=$1
shift
case "$oldest" in
  xpsp3 | 7) ;;
  *)
    echo "$0: unknown oldest Windows '$oldest' (xpsp3 or 7)" >&2
    exit 2
    ;;
esac

status=0
for program in "$@"; do
  [ -f "$program" ] || {
    echo "$program: no such program"
    status=1
    continue
  }
  # "dll function" for every import: the name, or "#N" for one imported by ordinal N.
  imports=$("$objdump" -p "$program" | awk '
    /^[[:space:]]*DLL Name:/ { dll = tolower($3); next }
    /^[[:space:]]*$/ { if (dll != "" && seen) dll = ""; seen = 0; next }
    dll != "" && /^\t[0-9a-f]+\t/ {
      seen = 1
      if ($0 ~ /<none>/ || NF == 2) print dll, "#" $2; else print dll, $3
    }')
  [ -n "$imports" ] || {
    echo "$(basename "$program"): no import table found (is it a Windows program?)"
    status=1
    continue
  }
  verdicts=$(awk -v oldest="$oldest" -v program="$(basename "$program")" -v list="$list" '
    BEGIN {
      split("2000 xp xpsp2 xpsp3 vista 7 8 8.1 10", order, " ")
      for (i in order) rank[order[i]] = i
      names["2000"] = "Windows 2000"; names["xp"] = "Windows XP"; names["xpsp2"] = "Windows XP SP2"
      names["xpsp3"] = "Windows XP SP3"; names["vista"] = "Windows Vista"; names["7"] = "Windows 7"
      names["8"] = "Windows 8"; names["8.1"] = "Windows 8.1"; names["10"] = "Windows 10"
      # The list: "dll function version [note]"; lines starting with # are comments.
      while ((getline line < list) > 0) {
        n = split(line, field, " ")
        if (n == 0 || field[1] ~ /^#/) continue
        version = tolower(field[3])
        if (!(version in rank)) { print "allowed-imports.txt: unknown Windows version \"" field[3] "\" for " field[1] " " field[2]; bad = 1; continue }
        since[tolower(field[1]) " " field[2]] = version
      }
    }
    {
      key = $1 " " $2
      what = $1 "!" $2
      if (!(key in since)) { print program ": imports " what ", which is not in the list of allowed imports"; bad = 1 }
      else if (rank[since[key]] > rank[oldest])
        { print program ": imports " what ", which " names[oldest] " lacks (it came with " names[since[key]] ")"; bad = 1 }
    }
    END { exit bad }' <<<"$imports") || status=1
  [ -z "$verdicts" ] || echo "$verdicts"
done
[ "$status" = 0 ] && echo "every import of $# program(s) is in Windows from $(case $oldest in xpsp3) echo XP SP3 ;; *) echo 7 ;; esac) on"
exit "$status"
