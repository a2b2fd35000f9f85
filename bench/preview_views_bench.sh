#!/usr/bin/env bash
# The preview's automatic views, timed: every view of the generated sample
# map and of a generated grid of 200 building groups (vornak_preview.exe:
# checker, three host runs, contact sheet), against a baseline measured in the same run: one
# host run of a single overview view of the same map (start, map loading,
# one picture). Goal: all views of each map within 60 s after the build.
# Runs inside a Wine session (scripts/run-benchmarks.sh starts one).
#   bench/preview_views_bench.sh BUILD_DIR
set -Eeuo pipefail
bin=$(cd "$1" && pwd)/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }

measure() {  # name, mapgen arguments...
  local name=$1
  shift
  local game="$work/$name/game"
  mkdir -p "$game"
  wine "$bin/vornak_mapgen.exe" "$@" "$(winepath -w "$game")" >/dev/null
  local copy="$work/$name/one"
  cp -r "$game" "$copy"
  local start
  start=$(now)
  wine "$bin/vornak_check_map.exe" --no-progress --views-out "$(winepath -w "$work/$name/plan")" \
    "$(winepath -w "$copy")" >/dev/null || true
  grep -v "^#" "$work/$name/plan/overview_views.txt" | head -1 >"$work/$name/one.txt"
  wine "$bin/vornak_host.exe" --game "$(winepath -w "$copy")" --out "$(winepath -w "$work/$name/one")" \
    --plugin "$(winepath -w "$bin/VornakMapLoader_test.dll")" --views "$(winepath -w "$work/$name/one.txt")" >/dev/null
  local baseline
  baseline=$(echo "$(now) - $start" | bc)
  start=$(now)
  wine "$bin/vornak_preview.exe" "$(winepath -w "$game")" --out "$(winepath -w "$work/$name/views")" >/dev/null
  local seconds views
  seconds=$(echo "$(now) - $start" | bc)
  views=$(cat "$work/$name/views/"{overview_,,collision_}views.txt | grep -vc '^#')
  printf '%-8s %3d views in %6.1f s (goal at most 60 s); one view alone %5.1f s; ratio %.1f\n' \
    "$name" "$views" "$seconds" "$baseline" "$(echo "$seconds / $baseline" | bc -l)"
}

echo "preview_views_bench: $(nproc) processors"
measure sample
measure grid200 --grid 200
