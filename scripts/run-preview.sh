#!/usr/bin/env bash
# The main job: builds everything, then runs the plug-in in the simulated
# host on a game directory (the bundled sample unless one is given) and
# prints the plug-in's log.
#   scripts/run-preview.sh [GAME_DIRECTORY]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

game=$(cd "${1:-$VORNAK_ROOT/sample/game}" && pwd)
vornak_setup_and_build
vornak_wine_session_start
out="$VORNAK_ROOT/out/preview"
mkdir -p "$out"
wine "$VORNAK_BUILD/bin/vornak_host.exe" --game "$(winepath -w "$game")" | tee "$out/host-output.txt"
cp "$game/VornakMapLoader.log" "$out/VornakMapLoader.log"
echo "The log is in $out/VornakMapLoader.log"
