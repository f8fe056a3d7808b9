#!/bin/sh
# Starts brevomat-virtual in an empty directory on the X display that xvfb-run provides, waits for
# its main window to appear, and checks the title and the cart directory it creates.
program="$1"
work=$(mktemp -d) || exit 1
cd "$work" || exit 1
"$program" >stdout.txt 2>stderr.txt &
pid=$!
found=1
i=0
while [ $i -lt 100 ]; do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Tarvex Brevomat 1.2nt"'; then
    found=0
    break
  fi
  sleep 0.1
  i=$((i + 1))
done
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
status=$found
if [ $found -ne 0 ]; then echo "no window titled Tarvex Brevomat 1.2nt"; cat stderr.txt; fi
if [ ! -f virtual-cart/cart.conf ] && [ ! -d virtual-cart ]; then echo "virtual-cart/ not created"; status=1; fi
if [ ! -f config.sav ]; then echo "config.sav not created"; status=1; fi
cd / && rm -rf "$work"
exit $status
