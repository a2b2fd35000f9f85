#!/usr/bin/env bash
# The map checker: builds everything (set-up as for the other commands),
# then checks a game directory as the plug-in would load it and prints the
# report. Options before the directory go to the checker (--json, --jobs N,
# --timeout S).
#   scripts/check-map.sh [CHECKER OPTIONS] GAME_DIR
#   scripts/check-map.sh [CHECKER OPTIONS] --sample | --broken-sample
#       generate the sample game, or a broken one with one of each mistake,
#       into out/check-map/ and check that (the broken game's importer crash
#       is forced with the checker's test-only --test-crash-on)
# Exit code: the checker's (0 clean, 1 warnings, 2 something fatal or an
# importer crash, 3 the check could not run).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [[ $# -lt 1 ]]; then
  echo "usage: scripts/check-map.sh [--json] [--jobs N] [--timeout SECONDS] GAME_DIR | --sample | --broken-sample" >&2
  exit 3
fi
target=${*: -1}
options=("${@:1:$#-1}")
generate=()
case $target in
  --sample) generate=() ;;
  --broken-sample)
    generate=(--broken)
    options+=(--test-crash-on 'maps\broken\crash.ply')
    ;;
  *)
    if [[ ! -d $target ]]; then
      echo "check-map: no game directory $target" >&2
      exit 3
    fi
    ;;
esac

vornak_setup_and_build >&2
vornak_wine_session_start >&2
bin="$VORNAK_BUILD/bin"
if [[ $target == --sample || $target == --broken-sample ]]; then
  game="$VORNAK_ROOT/out/check-map/${target#--}"
  rm -rf "$game"
  mkdir -p "$game"
  wine "$bin/vornak_mapgen.exe" "${generate[@]}" "$(winepath -w "$game")" >&2
else
  game=$(cd "$target" && pwd)
fi
# Wine sees the Linux file system as drive Z:.
status=0
wine "$bin/vornak_check_map.exe" "${options[@]}" "$(winepath -w "$game")" || status=$?
exit "$status"
