#!/bin/sh
# Runs on the X display that xvfb-run provides, with openbox as the window manager, so that windows
# get a real frame and title bar.
#  1. Starts brevomat-virtual in an empty directory and checks its main window: the title, the outer
#     size 418 x 418 with the frame, the place in the centre of the screen; that it ends with
#     status 0 on SIGTERM; and that config.sav and virtual-cart/ were created.
#  2. Lets gui_screenshot write a game to a virtual cart in the window and save a picture of the
#     window, frame included, to OUTPUT.png.
# usage: virtual_window_smoke.sh BREVOMAT_VIRTUAL GUI_SCREENSHOT OUTPUT.png
program="$1"
screenshot="$2"
output="$3"
title="Tarvex Brevomat 1.2nt"
work=$(mktemp -d) || exit 1
cd "$work" || exit 1

openbox >openbox.txt 2>&1 &
wm=$!
i=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
  i=$((i + 1))
  if [ $i -gt 100 ]; then echo "openbox did not start"; cat openbox.txt; kill $wm; exit 1; fi
  sleep 0.1
done

# The frame of the window named $title as "WIDTHxHEIGHT+X+Y": the client's place and size from
# xwininfo, widened by the frame extents the window manager announces.
outer() {
  xwininfo -name "$title" 2>/dev/null | awk '
    /Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
    /^ *Width:/ {w = $2} /^ *Height:/ {h = $2}
    END {if (w) print x, y, w, h}' | {
    read -r x y w h || exit 0
    set -- $(xprop -name "$title" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= *//p' | tr -d ,)
    [ $# -eq 4 ] || exit 0
    echo "$((w + $1 + $2))x$((h + $3 + $4))+$((x - $1))+$((y - $3))"
  }
}

screen=$(xwininfo -root | awk '/^ *Width:/ {w = $2} /^ *Height:/ {h = $2} END {print w, h}')
set -- $screen
expected="418x418+$((($1 - 418) / 2))+$((($2 - 418) / 2))"

"$program" >stdout.txt 2>stderr.txt &
pid=$!
status=1
i=0
found=""
while [ $i -lt 100 ]; do
  found=$(outer)
  if [ "$found" = "$expected" ]; then
    status=0
    break
  fi
  sleep 0.1
  i=$((i + 1))
done
# Ended as a logout ends it: SIGTERM closes the window as its close box does, the virtual cart is
# saved and the program ends with status 0.
kill "$pid" 2>/dev/null
wait "$pid"
ended=$?
if [ $ended -ne 0 ]; then
  echo "brevomat-virtual ended with status $ended on SIGTERM"
  status=1
fi
if [ $status -ne 0 ]; then
  echo "the window \"$title\" is at ${found:-nowhere}, expected $expected (outer size, centred)"
  cat stderr.txt
fi
if [ ! -f virtual-cart/cart.conf ]; then echo "virtual-cart/ not created"; status=1; fi
if [ ! -f config.sav ]; then echo "config.sav not created"; status=1; fi

if ! "$screenshot" "$output"; then
  echo "gui_screenshot failed"
  status=1
fi

kill $wm 2>/dev/null
wait $wm 2>/dev/null
cd / && rm -rf "$work"
exit $status
