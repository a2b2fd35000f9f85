#!/usr/bin/env bash
# Holds src/ to its layers: a file includes only files of its own folder or
# of a folder in a lower layer. The layers, from the ground up, are the order
# of the list below (the same as in src/CMakeLists.txt). Prints every include
# that runs up or sideways and exits 1 if there is one.
#   scripts/check-layers.sh [SRC_DIR]
set -euo pipefail
src=${1:-"$(dirname "${BASH_SOURCE[0]}")/../src"}
layers=(base config renderer overlay collision map hooks)

rank() {
  local i
  for i in "${!layers[@]}"; do
    [[ ${layers[$i]} == "$1" ]] && { echo "$i"; return; }
  done
  echo -1
}

status=0
while IFS= read -r file; do
  folder=${file#"$src"/}
  folder=${folder%%/*}
  own=$(rank "$folder")
  if [[ $own -lt 0 ]]; then
    echo "check-layers: $file: folder $folder is in no layer" >&2
    status=1
    continue
  fi
  while IFS= read -r target; do
    [[ $target == */* ]] || continue  # system headers and generated files
    other=$(rank "${target%%/*}")
    [[ $other -lt 0 ]] && continue
    if [[ $other -gt $own ]]; then
      echo "check-layers: ${file#"$src"/} includes $target, a layer above ${layers[$own]}" >&2
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.S' \) | sort)
[[ $status == 0 ]] && echo "check-layers: every include of $src runs down or within its folder"
exit $status
