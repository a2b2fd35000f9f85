#!/usr/bin/env bash
# The main job: builds everything, then previews a map in the simulated host
# on a real Direct3D 9 device under Wine. The host loads the plug-in DLL as
# the game does and plays the game's frames through the patched sites: the
# loading screen, then a camera flight while groups stream in and out with a
# device reset in the middle of it, or a set of views.
#   scripts/run-preview.sh                     the generated sample map, with
#                                              both render entries (below),
#                                              and its automatic views
#   scripts/run-preview.sh GAME_DIR            the automatic views of a map
#                                              of your own (below), through
#                                              vornak_preview.exe
#   scripts/run-preview.sh --watch GAME_DIR    the same, then kept up to date
#                                              while the map's files change
#                                              (vornak_preview.exe --watch)
#   scripts/run-preview.sh [--both-entries] GAME_DIR PATH_FILE
#                                              a flight along your camera path
# A flight's first run takes the game directory's settings as they are
# (render entry R1 when UseGameShaders is on, R2 when off) and resets the
# device through site D1. With the sample (or --both-entries) a second run
# plays the same flight on a copy of the game directory switched to the
# other render entry, resetting through D5; the plug-in is loaded once per
# process, so each run is a process of its own. With the sample a third,
# short run on another copy turns ShowCollisions on and takes
# collisions.png from above the road, walls on both sides.
# The automatic views (vornak_preview.exe, the command authors run on
# Windows): the map checker plans them from the map's bounds as the plug-in
# loads them (an overview, four corners, each group near and from where its
# LOD shows, the largest 64 groups) and writes index.html, the pictures
# beside the checker's findings; host runs on copies of the game directory
# take the views, the overview and corners, and the collision views
# (ShowCollisions on); then contact_sheet.png of them all.
# Everything goes to out/preview/: screenshots, report.json and the
# plug-in's log of the first run, the second run's in out/preview/second_entry/,
# the sample's views in out/preview/views/, and the overlay pictures.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [[ ${1:-} == --watch ]]; then
  if [[ $# -ne 2 || ! -d $2 ]]; then
    echo "usage: scripts/run-preview.sh --watch GAME_DIR" >&2
    exit 2
  fi
  vornak_setup_and_build
  vornak_wine_session_start
  mkdir -p "$VORNAK_ROOT/out/preview"
  wine "$VORNAK_BUILD/bin/vornak_preview.exe" "$(winepath -w "$(cd "$2" && pwd)")" \
    --out "$(winepath -w "$VORNAK_ROOT/out/preview")" --watch
  exit $?
fi
both=0
if [[ ${1:-} == --both-entries ]]; then
  both=1
  shift
fi
if [[ $# -gt 2 ]]; then
  echo "usage: scripts/run-preview.sh [[--both-entries] GAME_DIR [PATH_FILE]]" >&2
  exit 2
fi
if [[ $both == 1 && $# -ne 2 ]]; then
  echo "run-preview: --both-entries goes with a camera path" >&2
  exit 2
fi
if [[ $# -ge 1 && ! -d $1 ]]; then
  echo "run-preview: no game directory $1" >&2
  exit 1
fi
if [[ $# -ge 2 && ! -f $2 ]]; then
  echo "run-preview: no camera path file $2" >&2
  exit 1
fi

vornak_setup_and_build
vornak_wine_session_start
out="$VORNAK_ROOT/out/preview"
rm -rf "$out"
mkdir -p "$out"
bin="$VORNAK_BUILD/bin"

if [[ $# -ge 1 ]]; then
  game=$(cd "$1" && pwd)
else
  both=1
  game="$out/game"
  wine "$bin/vornak_mapgen.exe" "$(winepath -w "$game")"
fi
path_args=()
if [[ $# -ge 2 ]]; then
  path_args=(--camera-path "$(winepath -w "$(cd "$(dirname "$2")" && pwd)/$(basename "$2")")")
fi
second="$out/second_entry"
if [[ $both == 1 ]]; then
  mkdir -p "$second"
  cp -r "$game" "$second/game"
  rm -f "$second/game/VornakMapLoader.log"
fi

# The plug-in's test build: the released DLL plus the two streaming counters
# that mark the report's frames (designedWait, streamingLeft).
plugin=$(winepath -w "$bin/VornakMapLoader_test.dll")
preview() {  # game directory, output directory, extra arguments...
  local dir=$1 to=$2; shift 2
  wine "$bin/vornak_host.exe" --game "$(winepath -w "$dir")" --out "$(winepath -w "$to")" --plugin "$plugin" \
    "${path_args[@]}" "$@"
  cp "$dir/VornakMapLoader.log" "$to/VornakMapLoader.log"
}

views() {  # game directory, output directory
  wine "$bin/vornak_preview.exe" "$(winepath -w "$1")" --out "$(winepath -w "$2")" --plugin "$plugin"
}

if [[ $# -eq 1 ]]; then
  views "$game" "$out"
  echo "Views, contact_sheet.png, index.html and the log are in $out:"
  ls "$out"
  exit 0
fi

preview "$game" "$out" --reset-site D1
if [[ $both == 1 ]]; then
  # The render entry the first run did not take.
  if grep -q '"renderEntry": "R1"' "$out/report.json"; then other=B; else other=A; fi
  preview "$second/game" "$second" --reset-site D5 --render-entry "$other"
fi
if [[ $# -eq 0 ]]; then
  # The collision display: the collision models in wireframe, the barrier
  # walls in blue. Camera 12 m above the road loop, looking along it.
  third="$out/collisions"
  mkdir -p "$third"
  cp -r "$game" "$third/game"
  rm -f "$third/game/VornakMapLoader.log"
  printf '0 131.6 -71.9 12 160.4 -19.2 0\n4 131.6 -71.9 12 160.4 -19.2 0\n' >"$third/path.txt"
  wine "$bin/vornak_host.exe" --game "$(winepath -w "$third/game")" --out "$(winepath -w "$third")" \
    --plugin "$plugin" --camera-path "$(winepath -w "$third/path.txt")" --reset-at -1 --show-collisions 4
  cp "$third/game/VornakMapLoader.log" "$third/VornakMapLoader.log"
  cp "$third/collisions.png" "$out/collisions.png"
fi
if [[ $# -eq 0 ]]; then
  # The sample's automatic views, on a copy (the flights above wrote logs).
  mkdir -p "$out/views"
  cp -r "$game" "$out/views/game"
  rm -f "$out/views/game/VornakMapLoader.log"
  views "$out/views/game" "$out/views"
fi
# The overlay pictures link the plug-in's code, whose log file opens in the
# current directory as the program starts: they run in a scratch directory.
scratch=$(mktemp -d)
(cd "$scratch" && wine "$bin/vornak_overlay_preview.exe" "$(winepath -w "$out")")
rm -rf "$scratch"

echo
echo "--- VornakMapLoader.log ---"
cat "$out/VornakMapLoader.log"
echo "--- end of log ---"
echo "Screenshots, report.json and the log are in $out:"
ls "$out"
if [[ $both == 1 ]]; then
  echo "The second render entry's run is in $second:"
  ls "$second"
fi
