#!/usr/bin/env bash
# Fails when a source file includes a header from a layer above its own (or from a sibling it
# must not know). The layers, bottom up:
#   port -> base -> link -> image -> cart -> commands -> form -> gui | win
#                                                      commands -> cli
# trace/ (reading a record of port accesses back: decoding it, replaying it on the virtual
# hardware) stands on link, cart and sim beside commands/; only cli/ uses it. The recorder itself
# is a port back end in port/.
# dump/ (checksums, used size, DAT files) stands on base alone and serves commands/ and above.
# compat/ (what the 32-bit Windows programs need of the runtime to start on XP) knows nothing else.
# sim/ (the virtual hardware) knows only the port interface, and base for the one way the program
# replaces a file (the cart's own files). Tests, benchmarks and fuzz targets may include anything.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [port]="port"
  [base]="base"
  [link]="link port base"
  [image]="image base"
  [cart]="cart image link port base"
  [dump]="dump base"
  [commands]="commands cart image link port base dump"
  [form]="form commands cart image link port base dump"
  [sim]="sim port base"
  [compat]="compat"
  [trace]="trace cart image link port base sim"
  [gui]="gui form commands cart image link port base sim dump"
  [cli]="cli commands cart image link port base sim dump trace"
  [win]="win form commands cart image link port base sim dump"
)

status=0
for layer in "${!allowed[@]}"; do
  [ -d "$layer" ] || continue
  while IFS= read -r file; do
    while IFS=: read -r line target; do
      top=${target%%/*}
      [ -n "${allowed[$top]+x}" ] || continue  # not one of ours (a system or library header)
      case " ${allowed[$layer]} " in
        *" $top "*) ;;
        *)
          echo "$file:$line: $layer/ must not include $target"
          status=1
          ;;
      esac
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p;=' "$file" |
      sed -n 'N;s/^\(.*\)\n\([0-9]*\)$/\2:\1/p' | grep -v '^[0-9]*$' || true)
  done < <(find "$layer" -type f \( -name '*.h' -o -name '*.cpp' \))
done
# A folder that holds code but has no rule is a layer nobody has placed yet.
for dir in */; do
  dir=${dir%/}
  case "$dir" in tests | bench | fuzz | scripts | docs | cmake | build* | .*) continue ;; esac
  if [ -z "${allowed[$dir]+x}" ] && find "$dir" -name '*.cpp' -print -quit | grep -q .; then
    echo "$dir/: a code folder with no place in the layers (add it to scripts/check-layers.sh)"
    status=1
  fi
done
[ "$status" = 0 ] && echo "layers: every include points down"
exit "$status"
