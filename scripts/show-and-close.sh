#!/bin/sh
# Starts a Windows program under Wine, waits for its window, asks it to close as Windows asks
# (WM_CLOSE to the window, posted by the build's close_window.exe) and waits for it to end:
#
#   sh scripts/show-and-close.sh FOLDER PROGRAM WINDOW LOG CLOSER LIMIT_WINDOW LIMIT_CLOSE
#
# PROGRAM is started in FOLDER, with its output and Wine's errors in LOG; WINDOW is the title of
# its window; CLOSER the path of close_window.exe. On an X display (DISPLAY set, xwininfo there)
# the window is looked for on the display and its size printed; without one (Wine's null display
# driver, as in the virtual machine of scripts/wine32-vm.sh) the window exists but is not drawn,
# and it is found by asking it to close until it is there. It must appear within LIMIT_WINDOW
# seconds and the program end within LIMIT_CLOSE seconds of being asked.
#
# Ends 0 when the program ended by itself with status 0; 2 when it ended before its window
# appeared; 1 otherwise, also when it had to be ended from outside (never a clean exit). Used by
# scripts/test-windows.sh and, through check_installed_demo (scripts/installed-files.sh), by the
# virtual machine's check of the 32-bit installer.
folder=$1 program=$2 window=$3 log=$4 closer=$5 limit_window=$6 limit_close=$7
case "$log" in /*) ;; *) log="$(pwd)/$log" ;; esac
on_x=no
if [ -n "${DISPLAY:-}" ] && command -v xwininfo >/dev/null; then on_x=yes; fi
cd "$folder" || exit 1
WINEDEBUG=err+all wine "$program" >"$log" 2>&1 &
pid=$!
# Ends the program from outside, says why, and fails.
give_up() {
  printf '%s\n' "$1"
  kill -9 $pid 2>/dev/null
  wait $pid 2>/dev/null
  exit 1
}
closed=no
deadline=$(($(date +%s) + limit_window))
while :; do
  if [ $on_x = yes ]; then
    xwininfo -name "$window" >/dev/null 2>&1 && break
  elif timeout 60 wine "$closer" "$window" >>"$log" 2>&1; then
    closed=yes
    break
  fi
  if ! kill -0 $pid 2>/dev/null; then
    wait $pid
    printf '%s ended with status %s before its window "%s" appeared\n' "$program" $? "$window"
    exit 2
  fi
  [ "$(date +%s)" -lt "$deadline" ] || give_up "the window \"$window\" did not appear within $limit_window s"
  if [ $on_x = yes ]; then sleep 0.1; else sleep 1; fi
done
if [ $closed = no ]; then
  xwininfo -name "$window" | grep -E "Width|Height"
  timeout 30 wine "$closer" "$window" >>"$log" 2>&1 || give_up "the window \"$window\" could not be asked to close"
fi
deadline=$(($(date +%s) + limit_close))
while kill -0 $pid 2>/dev/null; do
  [ "$(date +%s)" -lt "$deadline" ] ||
    give_up "$program did not end within $limit_close s of being asked to close; ended from outside"
  sleep 0.1
done
wait $pid
status=$?
[ $status -eq 0 ] || {
  printf '%s ended with status %s\n' "$program" $status
  exit 1
}
