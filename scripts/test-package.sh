#!/usr/bin/env bash
# The package as a user gets it: made from the build, unpacked into an empty
# directory outside the checkout, then its own checker run on its example
# map (exit 0) and its own preview (pictures written, the plug-in loaded
# from the package), with every path outside the build tree. Then the
# author's one command, tools\vornak_preview.exe, in a Wine prefix of its
# own made for the run (as a fresh Windows machine: nothing but the
# package), on the example map and on a map of third-party files placed as
# exported (overlapping groups, a grandstand FBX in centimetres): every
# view must show its subject. Also checks that the plug-in and the tools
# import nothing but system DLLs and d3dx9_43.dll, that the plug-in exports
# nothing, and that the version is the same everywhere. Runs inside a Wine
# session (the test command's).
#   scripts/test-package.sh BUILD_DIR
set -Eeuo pipefail
trap 'echo "test-package: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" && pwd)
# The map generator is the build's own, not the package's.
VORNAK_BUILD_BIN=$build/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/vornak-package-test.XXXXXX")
trap 'WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() { echo "test-package: $*" >&2; exit 1; }

zip=$(bash "$root/scripts/make-package.sh" "$build" "$work/made")
mkdir "$work/unpacked"
(cd "$work/unpacked" && unzip -q "$zip")
package=$(echo "$work"/unpacked/VornakMapLoader-*)
[[ -d $package ]] || fail "the zip holds no VornakMapLoader-<version> folder"
version=${package##*/VornakMapLoader-}
echo "package $(basename "$zip"): $(du -k "$zip" | cut -f1) KB, $(unzip -Z1 "$zip" | grep -vc '/$') files"

for file in VornakMapLoader.dll VornakMapLoader_Config.ini README.txt docs/configuration.md docs/authoring.md \
            tools/vornak_check_map.exe tools/vornak_host.exe tools/vornak_preview.exe tools/VornakMapLoader_preview.dll \
            example/VornakMapLoader_Config.ini; do
  [[ -f $package/$file ]] || fail "the package lacks $file"
done

# Imports: the system's DLLs and the DirectX 9 runtime, nothing of the build.
system_dlls='kernel32 user32 gdi32 advapi32 msvcrt dwmapi d3d9 d3dx9_43 ole32 oleaut32 shell32 shlwapi imm32 winmm version'
for binary in VornakMapLoader.dll tools/vornak_check_map.exe tools/vornak_host.exe tools/vornak_preview.exe \
              tools/VornakMapLoader_preview.dll; do
  while read -r dll; do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    [[ " $system_dlls " == *" ${lower%.dll} "* ]] || fail "$binary imports $dll"
  done < <(i686-w64-mingw32-objdump -p "$package/$binary" | sed -n 's/^\s*DLL Name: //p')
done
if i686-w64-mingw32-objdump -p "$package/VornakMapLoader.dll" | grep -q '^\[Ordinal/Name Pointer\] Table'; then
  exports=$(i686-w64-mingw32-objdump -p "$package/VornakMapLoader.dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -c '\[' || true)
  [[ $exports -le 1 ]] || fail "the plug-in exports functions"
fi

# One version: the folder's name, both tools and the settings file's header.
for tool in vornak_check_map vornak_host vornak_preview; do
  shown=$(wine "$package/tools/$tool.exe" --version | tr -d '\r')
  [[ $shown == "$tool $version" ]] || fail "$tool --version says '$shown', the package is $version"
done
grep -q "VornakMapLoader $version:" "$package/VornakMapLoader_Config.ini" || fail "the settings file names another version"

# The checker, from the package, on the example map: clean.
wine "$package/tools/vornak_check_map.exe" --no-progress "$(winepath -w "$package/example")" >"$work/check.txt" ||
  { cat "$work/check.txt"; fail "the checker finds the example map not clean"; }
grep -q '^Result: clean' "$work/check.txt" || fail "the checker's report does not say clean"

# The preview, from the package, on a copy of the example game directory.
cp -r "$package/example" "$work/game"
wine "$package/tools/vornak_host.exe" --game "$(winepath -w "$work/game")" --out "$(winepath -w "$work/pictures")" \
  --size 320x240 >"$work/preview.txt" 2>&1 || { cat "$work/preview.txt"; fail "the preview failed"; }
grep -qF "with the plug-in $(winepath -w "$package/VornakMapLoader.dll")" "$work/preview.txt" ||
  { cat "$work/preview.txt"; fail "the preview did not load the package's plug-in"; }
pictures=$(ls "$work/pictures"/*.png | wc -l)
[[ $pictures -ge 4 ]] || fail "the preview wrote $pictures pictures"
head -1 "$work/game/VornakMapLoader.log" | tr -d '\r' | grep -qx "VornakMapLoader v$version by the VornakMapLoader team" ||
  fail "the plug-in's log does not open with the banner of version $version"
grep -q "Registered collision model maps.example.wall.obj" "$work/game/VornakMapLoader.log" ||
  fail "the plug-in did not read the example map"
if grep -rqiF -e "$build" -e "$(winepath -w "$build")" "$work/check.txt" "$work/preview.txt" "$work/pictures/report.json" "$work/game/VornakMapLoader.log"; then
  fail "a path into the build tree shows in the package's runs"
fi
# The author's preview, from the package, in a Wine prefix of its own. The
# one setting made in it is Wine's own (no Direct3D command-stream thread:
# see common.sh), not one a Windows machine needs.
clean_prefix=$work/prefix
(
  export WINEPREFIX=$clean_prefix
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Direct3D' /v csmt /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
)
wine "$VORNAK_BUILD_BIN/vornak_mapgen.exe" --exported "$(winepath -w "$work/exported")" >/dev/null
previewed=""
for map in example exported; do
  if [[ $map == example ]]; then cp -r "$package/example" "$work/example"; fi
  WINEPREFIX=$clean_prefix wine "$package/tools/vornak_preview.exe" "$(winepath -w "$work/$map")" \
    --out "$(winepath -w "$work/$map-views")" >"$work/$map-preview.txt" 2>&1 ||
    { cat "$work/$map-preview.txt"; fail "vornak_preview failed on the $map map"; }
  checks="$work/$map-views/view_checks.txt"
  [[ -f $checks && -f $work/$map-views/index.html && -f $work/$map-views/contact_sheet.png ]] ||
    { ls "$work/$map-views"; fail "vornak_preview wrote no views page, sheet or checks for the $map map"; }
  views=$(grep -c . "$checks")
  shown=$(grep -c '^[^ ]* ok ' "$checks" || true)
  [[ $views -ge 6 && $shown == "$views" ]] || { cat "$checks"; fail "$((views - shown)) of $views views of the $map map show nothing of their subject"; }
  previewed+=" $map: $shown of $views views show their subject;"
done
echo "package test passed: $pictures pictures, version $version;$previewed"
