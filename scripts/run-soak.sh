#!/usr/bin/env bash
# The soak runs, on demand (they are not part of the test run): builds
# everything, then runs vornak_soak under Wine with a virtual display for
# the real Direct3D device. Four kinds, one line each with its counts and
# figures, then any failures:
#   churn     10,000 acquire, release and import cycles of models and
#             textures on four threads
#   reset     1,000 device resets through the game's reset sites while
#             member models stream in and out
#   faults    10,000 frames of that streaming flight with resets on a device
#             failing 1 % of creations and locks, lost every 500 frames for
#             30, with 1 in 10,000 allocations failing; then the picture and
#             the objects held against the same flight without faults
#   address-space
#             1,500 frames of that streaming flight with resets after the
#             address space was reserved and committed in blocks until only
#             400 MB were left free (free regions of the user range, as
#             VirtualQuery reports them), then again with 150 MB; the blocks
#             given back half-way; against the same flight unsqueezed: frame
#             times, loading screens, every model back, picture, private bytes
#   settings  the settings reader against GetPrivateProfileStringA on 10,000
#             generated files (new ones every run: the first seed is printed)
# Arguments go to vornak_soak: --resets N, --cycles N, --files N, --seed N,
# --frames N, --broken-file F (a file of the faults flight, as g1_b.obj, that
# runs out of memory on every import), --squeeze-frames N (the address-space
# flight), --free-mb N (that amount left free alone),
# --only reset|churn|faults|address-space|settings.
# The exit code is non-zero on any failure (3: the churn's, the faults' or
# the address-space run's watchdog found the run stuck and printed its state).
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
