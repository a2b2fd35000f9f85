#!/usr/bin/env bash
# The automatic views of a game directory, inside a Wine session: the map
# checker plans them (overview_views.txt, views.txt, collision_views.txt,
# index.html with its findings, check.txt); vornak_host takes them in copies
# of the game directory (scripts/preview_copy.py: streaming without a frame
# budget): the groups' views, the overview and the corners in a copy whose
# draw distance reaches every group (from so far the game would draw only
# the LODs), the collision views in another such copy with ShowCollisions
# on; then one contact_sheet.png of them all. Exit 1 when a
# step fails; the checker's findings do not fail it.
#   scripts/preview-views.sh BIN_DIR PLUGIN_DLL GAME_DIR OUT_DIR
# VORNAK_IMPORT_CACHE=DIR keeps the checker's import results there (the watch).
set -Eeuo pipefail
trap 'echo "preview-views: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

if [[ $# -ne 4 ]]; then
  echo "usage: scripts/preview-views.sh BIN_DIR PLUGIN_DLL GAME_DIR OUT_DIR" >&2
  exit 2
fi
bin=$1 plugin=$2 game=$3 out=$4
w() { winepath -w "$1"; }
mkdir -p "$out"
status=0
cache=()
[[ -n ${VORNAK_IMPORT_CACHE:-} ]] && cache=(--import-cache "$(w "$VORNAK_IMPORT_CACHE")")
wine "$bin/vornak_check_map.exe" --no-progress "${cache[@]}" --views-out "$(w "$out")" "$(w "$game")" >"$out/check.txt" ||
  status=$?
if [[ $status -ge 3 || ! -f $out/views.txt ]]; then
  cat "$out/check.txt"
  echo "preview-views: the map checker could not plan the views (exit $status)" >&2
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Takes the views of a list unless it is empty: game directory, list, output
# directory, extra host options.
take() {
  local dir=$1 list=$2 to=$3
  shift 3
  grep -qv '^#' "$list" || return 0
  wine "$bin/vornak_host.exe" --game "$(w "$dir")" --out "$(w "$to")" --plugin "$(w "$plugin")" \
    --views "$(w "$list")" "$@"
}
copy() { python3 "$(dirname "${BASH_SOURCE[0]}")/preview_copy.py" "$game" "$@"; }
copy "$scratch/near"
take "$scratch/near" "$out/views.txt" "$out"
if [[ -f $scratch/near/VornakMapLoader.log ]]; then cp "$scratch/near/VornakMapLoader.log" "$out/VornakMapLoader.log"; fi
copy "$scratch/far" --far
take "$scratch/far" "$out/overview_views.txt" "$out/overview"
copy "$scratch/collisions" --far
take "$scratch/collisions" "$out/collision_views.txt" "$out/collisions" --show-collisions
# The pictures of the copies beside the others.
for run in overview:overview collision:collisions; do
  while read -r name _; do
    [[ $name == \#* || -z $name ]] || cp "$out/${run#*:}/$name" "$out/"
  done <"$out/${run%%:*}_views.txt"
done
wine "$bin/vornak_host.exe" --contact-sheet "$(w "$out")" "$(w "$out/overview_views.txt")" "$(w "$out/views.txt")" \
  "$(w "$out/collision_views.txt")"
echo "The map checker (exit $status): $(tail -n 1 "$out/check.txt"); the pictures beside its findings: $out/index.html"
