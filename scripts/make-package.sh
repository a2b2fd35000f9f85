#!/usr/bin/env bash
# Writes the release from a finished build: OUT/VornakMapLoader-<version>/
# and OUT/VornakMapLoader-<version>.zip. Needs a Wine session (common.sh's
# vornak_wine_session_start): the default settings file is written by the
# map checker, from the plug-in's own key table and defaults.
#   scripts/make-package.sh BUILD_DIR OUT_DIR
# Prints the zip's path. scripts/package.sh builds first and calls this.
set -Eeuo pipefail
trap 'echo "make-package: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

if [[ $# -ne 2 ]]; then
  echo "usage: scripts/make-package.sh BUILD_DIR OUT_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
bin="$build/bin"

# The project's version, from the build that made the programs.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
if [[ -z $version ]]; then
  echo "make-package: no project version in $build/CMakeCache.txt" >&2
  exit 1
fi
name="VornakMapLoader-$version"
package="$out/$name"
rm -rf "$package" "$package.zip"
mkdir -p "$package/tools" "$package/docs" "$package/example"

cp "$bin/VornakMapLoader.dll" "$package/"
cp "$bin/vornak_check_map.exe" "$bin/vornak_host.exe" "$bin/vornak_preview.exe" "$package/tools/"
# The preview's own build of the plug-in: the same code, plus the counters
# that tell the preview when streaming is done and the switch that draws one
# group alone. The game never loads it.
cp "$bin/VornakMapLoader_test.dll" "$package/tools/VornakMapLoader_preview.dll"
# Without symbols and debug information (they serve back traces in development).
i686-w64-mingw32-strip --strip-all "$package/VornakMapLoader.dll" "$package/tools/"*.exe "$package/tools/"*.dll
wine "$package/tools/vornak_check_map.exe" --write-settings \
  "$(winepath -w "$package/VornakMapLoader_Config.ini")" >/dev/null
cp "$root/packaging/README.txt" "$package/README.txt"
cp "$root/docs/configuration.md" "$root/docs/authoring.md" "$package/docs/"
if [[ -d "$root/docs/pictures" ]]; then cp -r "$root/docs/pictures" "$package/docs/"; fi
cp -r "$root/sample/game/." "$package/example/"

# Text files with Windows line ends, for the editors players open them in.
find "$package" -type f \( -name '*.txt' -o -name '*.md' -o -name '*.ini' -o -name '*.obj' -o -name '*.mtl' \) \
  -exec sed -i 's/\r\{0,1\}$/\r/' {} +

(cd "$out" && zip -qrX "$name.zip" "$name")
echo "$package.zip"
