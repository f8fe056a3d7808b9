# shellcheck shell=dash
# What an installer of the Windows package must leave in the Wine prefix $WINEPREFIX when it was
# told to install into C:\Brevomat: the three programs, the uninstaller, the licence and the two
# Start-menu entries, and what the installed demo must do. Sourced by scripts/test-windows.sh and by
# the check that scripts/wine32-vm.sh runs in its virtual machine (scripts/wine32-vm-guest.sh).
#
# check_installed BITS: ends 0 when everything is there, 1 naming the first thing missing.
check_installed() {
  local f menu title="Tarvex Brevomat 1.2nt"
  for f in brevomat.exe brevomat-virtual.exe brevomat-cli.exe Uninstall.exe LICENSE.txt; do
    [ -f "$WINEPREFIX/drive_c/Brevomat/$f" ] || {
      echo "the $1-bit installer did not install $f"
      return 1
    }
  done
  menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$title"
  for f in "$title.lnk" "Brevomat on a virtual cart.lnk"; do
    [ -f "$menu/$f" ] || {
      echo "the $1-bit installer made no Start-menu entry $f"
      return 1
    }
  done
  echo "the $1-bit installer installed the programs and their Start-menu entries"
}

# check_installed_demo BITS CLOSER LIMIT_WINDOW LIMIT_CLOSE [COMMAND...]: starts the installed
# brevomat-virtual.exe in an empty folder of the prefix (through COMMAND, such as an xvfb-run that
# gives it a display, when given), waits for its window, asks it to close as Windows does and
# checks that it ended by itself with status 0 and left its cart and settings file there
# (scripts/show-and-close.sh, from the repository's root, the current folder). Ends 0 when it did;
# 1 otherwise, with what the program and Wine said.
check_installed_demo() {
  local bits=$1 closer=$2 limit_window=$3 limit_close=$4 demo
  shift 4
  demo=$(mktemp -d "$WINEPREFIX/drive_c/users/demo.XXXXXX")
  if ! timeout -k 10 $((limit_window + limit_close + 120)) "$@" sh "$(pwd)/scripts/show-and-close.sh" \
    "$demo" 'C:\Brevomat\brevomat-virtual.exe' "Tarvex Brevomat 1.2nt" "$demo.log" "$closer" \
    "$limit_window" "$limit_close"; then
    echo "--- what the $bits-bit program and Wine said:"
    tail -n 40 "$demo.log" || true
    return 1
  fi
  [ -f "$demo/virtual-cart/cart.conf" ] || {
    echo "the installed $bits-bit demo made no virtual-cart\\cart.conf"
    return 1
  }
  [ -f "$demo/config.sav" ] || {
    echo "the installed $bits-bit demo wrote no config.sav"
    return 1
  }
  echo "the installed $bits-bit brevomat-virtual.exe showed its window and closed"
}
