#!/usr/bin/env bash
# The soak runs, on demand (they are not part of the test run): builds
# everything, then runs vornak_soak under Wine with a virtual display for
# the real Direct3D device. Three kinds, one line each with its counts and
# figures, then any failures:
#   churn     10,000 acquire, release and import cycles of models and
#             textures on four threads
#   reset     1,000 device resets through the game's reset sites while
#             member models stream in and out
#   settings  the settings reader against GetPrivateProfileStringA on 10,000
#             generated files (new ones every run: the first seed is printed)
# Arguments go to vornak_soak: --resets N, --cycles N, --files N, --seed N,
# --only reset|churn|settings. The exit code is non-zero on any failure
# (3: the churn's watchdog found its threads stuck and printed their state).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vornak_setup_and_build
vornak_wine_session_start
# The plug-in's code opens its log in the current directory: a scratch one.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; vornak_wine_session_stop' EXIT
cd "$scratch"
start=$SECONDS
status=0
wine "$VORNAK_BUILD/bin/vornak_soak.exe" "$@" || status=$?
echo "soak: $((SECONDS - start)) s in all, exit code $status"
exit "$status"
