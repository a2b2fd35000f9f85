#!/usr/bin/env bash
# The release: set-up and build as for the README's two commands, then the
# package in dist/: VornakMapLoader-<version>/ and the same as a .zip (the
# plug-in, its default settings, the example map, the author's tools, the
# player's README.txt and the documents).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vornak_setup_and_build
vornak_wine_session_start
zip=$(bash "$VORNAK_ROOT/scripts/make-package.sh" "$VORNAK_BUILD" "$VORNAK_ROOT/dist")
echo "package: $zip ($(du -k "$zip" | cut -f1) KB)"
unzip -l "$zip"
