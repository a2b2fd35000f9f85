#!/usr/bin/env bash
# The main job: builds everything, then previews a map in the simulated
# host on a real Direct3D 9 device under Wine: the plug-in's start-up, the
# loading screen, and a camera flight while groups stream in and out.
#   scripts/run-preview.sh                       the generated sample map
#   scripts/run-preview.sh GAME_DIR [PATH_FILE]  a map of your own, with an
#                                                optional camera path
# Screenshots, report.json and the plug-in's log go to out/preview/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vornak_setup_and_build
vornak_wine_session_start
out="$VORNAK_ROOT/out/preview"
rm -rf "$out"
mkdir -p "$out"
bin="$VORNAK_BUILD/bin"

if [[ $# -ge 1 ]]; then
  game=$(cd "$1" && pwd)
else
  game="$out/game"
  wine "$bin/vornak_mapgen.exe" "$(winepath -w "$game")"
fi
path_args=()
if [[ $# -ge 2 ]]; then
  path_args=(--camera-path "$(winepath -w "$(cd "$(dirname "$2")" && pwd)/$(basename "$2")")")
fi

# The plug-in opens its log in the current directory, like in the game.
(cd "$game" && wine "$bin/vornak_host.exe" --game . --out "$(winepath -w "$out")" "${path_args[@]}")
cp "$game/VornakMapLoader.log" "$out/VornakMapLoader.log"
echo
echo "--- VornakMapLoader.log ---"
cat "$out/VornakMapLoader.log"
echo "--- end of log ---"
echo "Screenshots, report.json and the log are in $out:"
ls "$out"
