# What an installer of the Windows package must leave in the Wine prefix $WINEPREFIX when it was
# told to install into C:\Brevomat: the three programs, the uninstaller, the licence and the two
# Start-menu entries. Sourced by scripts/test-windows.sh and by the check that scripts/wine32-vm.sh
# runs in its virtual machine.
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
