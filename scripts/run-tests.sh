#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the libraries and the
# project, then runs ctest under Wine. Extra arguments go to ctest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vornak_setup_and_build
vornak_wine_session_start
cd "$VORNAK_BUILD"
ctest --output-on-failure --no-tests=error "$@"
