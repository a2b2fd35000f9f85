#!/usr/bin/env bash
# The pictures of the documents (docs/pictures/), made by the preview from
# the example map in sample/game: set-up and build as for the README's two
# commands, then one preview run per picture, at a small size.
#   scripts/make-doc-pictures.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vornak_setup_and_build
vornak_wine_session_start
pictures="$VORNAK_ROOT/docs/pictures"
mkdir -p "$pictures"
work=$(mktemp -d)
trap 'rm -rf "$work"; vornak_wine_session_stop' EXIT

# picture NAME "CAMERA x y z" "TARGET x y z" [vornak_host options...]: the
# camera holds still for 90 frames (the members stream in), then the shot.
picture() {
  local name=$1 camera=$2 target=$3
  shift 3
  rm -rf "$work/game" "$work/out"
  cp -r "$VORNAK_ROOT/sample/game" "$work/game"
  printf '0 %s %s\n90 %s %s\n' "$camera" "$target" "$camera" "$target" >"$work/path.txt"
  wine "$VORNAK_BUILD/bin/vornak_host.exe" --game "$(winepath -w "$work/game")" --out "$(winepath -w "$work/out")" \
    --camera-path "$(winepath -w "$work/path.txt")" --size 480x300 --reset-at -1 "$@" >/dev/null
  local shot=key1.png
  [[ $# -gt 0 ]] && shot=collisions.png
  cp "$work/out/$shot" "$pictures/$name.png"
  echo "$pictures/$name.png"
}

# Game axes: the third is up; the file's (x, y, z) is the game's (x, z, y).
picture example_overview "-45 -70 40" "15 40 0"
picture example_axes "-9 -11 7" "3 3 2"
picture example_collisions "-45 -70 40" "15 40 0" --show-collisions 90
# Every automatic view of the example on one sheet.
rm -rf "$work/game"
cp -r "$VORNAK_ROOT/sample/game" "$work/game"
wine "$VORNAK_BUILD/bin/vornak_preview.exe" "$(winepath -w "$work/game")" --out "$(winepath -w "$work/views")" \
  --plugin "$(winepath -w "$VORNAK_BUILD/bin/VornakMapLoader.dll")" >/dev/null
cp "$work/views/contact_sheet.png" "$pictures/example_contact_sheet.png"
echo "$pictures/example_contact_sheet.png"
