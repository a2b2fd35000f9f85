#!/usr/bin/env bash
# The map checker: builds everything (set-up as for the other commands),
# then checks a game directory as the plug-in would load it and prints the
# report. Extra arguments go to the checker (--json, --jobs N, --timeout S).
#   scripts/check-map.sh [CHECKER OPTIONS] GAME_DIR
# Exit code: the checker's (0 clean, 1 warnings, 2 something fatal or an
# importer crash, 3 the check could not run).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [[ $# -lt 1 ]]; then
  echo "usage: scripts/check-map.sh [--json] [--jobs N] [--timeout SECONDS] GAME_DIR" >&2
  exit 3
fi
game=${*: -1}
if [[ ! -d $game ]]; then
  echo "check-map: no game directory $game" >&2
  exit 3
fi
options=("${@:1:$#-1}")

vornak_setup_and_build >&2
vornak_wine_session_start >&2
# Wine sees the Linux file system as drive Z:.
status=0
wine "$VORNAK_BUILD/bin/vornak_check_map.exe" "${options[@]}" "$(winepath -w "$(cd "$game" && pwd)")" || status=$?
exit "$status"
