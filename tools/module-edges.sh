#!/usr/bin/env bash
# Prints the applier's module edges found in '#include "module/..."' lines and
# fails when one points up the order core -> platform -> host -> container ->
# messages -> engine -> ui -> app (a module may include only those before it).
cd "$(dirname "$0")/.."
order=(core platform host container messages engine ui app)
rank() { local i; for i in "${!order[@]}"; do [ "${order[$i]}" = "$1" ] && echo "$i"; done; }
status=0
while read -r from to; do
  if [ "$(rank "$to")" -gt "$(rank "$from")" ]; then
    echo "$from -> $to  points up"
    status=1
  else
    echo "$from -> $to"
  fi
done < <(grep -rHoE '^#include "(core|platform|host|container|messages|engine|ui|app)/' "${order[@]}" |
         sed -E 's|^([a-z]+)/[^:]*:#include "([a-z]+)/|\1 \2|' | awk '$1 != $2' | sort -u)
exit $status
