#!/usr/bin/env bash
# Builds everything and runs every benchmark under Wine. Each benchmark
# measures its own baseline in the same run and prints the ratios.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vornak_setup_and_build
vornak_wine_session_start
cd "$VORNAK_BUILD/bin"
for bench in *_bench.exe; do
  echo "== $bench"
  wine "$bench" "$@"
done
echo "== preview_views_bench.sh"
bash "$VORNAK_ROOT/bench/preview_views_bench.sh" "$VORNAK_BUILD"
echo "== preview_watch_bench.sh"
bash "$VORNAK_ROOT/bench/preview_watch_bench.sh" "$VORNAK_BUILD"
