#!/usr/bin/env bash
# Builds Assimp 5.2.5 for the fuzz targets: a native Linux build of the same
# Debian source with the same fixes from scripts/patches as build-deps.sh,
# compiled by clang with AddressSanitizer, UndefinedBehaviorSanitizer and
# libFuzzer's coverage instrumentation, static, and with only the readers a
# map uses (OBJ, FBX, COLLADA, 3DS, glTF 2, PLY, STL, X) to keep it short.
# Installs the clang packages it needs (as root) the first time; they are not
# among scripts/install-packages.sh's, so the plug-in's build never pays for
# them. The prefix is keyed by the source versions, this script,
# assimp-source.sh, the patches and the compiler; a second run with nothing changed prints it at once.
set -Eeuo pipefail  # -E: the ERR trap names the failed step inside functions too

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

source "$here/assimp-source.sh"  # ASSIMP_VERSION, ZLIB_VERSION, prepare_assimp_source
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev zlib1g-dev cmake ninja-build dpkg-dev libutfcpp-dev libstb-dev)

missing=()
for p in "${FUZZ_PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "build-fuzz-deps: missing packages (${missing[*]}); run this script as root" >&2
    exit 1
  fi
  echo "build-fuzz-deps: installing ${missing[*]}" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi
grep -qs 'deb-src' /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list /etc/apt/sources.list.d/*.list || {
  echo "build-fuzz-deps: no deb-src entries for apt-get source; run scripts/install-packages.sh as root" >&2
  exit 1; }

CC=clang-14
CXX=clang++-14
SANITIZE="-fsanitize=address,undefined -fsanitize=fuzzer-no-link"
COMPILER_VERSION=$($CXX -dumpversion)

cache_root=${VORNAK_FUZZ_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vornak-fuzz}
key=$( { echo "$ASSIMP_VERSION $ZLIB_VERSION $COMPILER_VERSION $SANITIZE"
         cat "${BASH_SOURCE[0]}" "$here/assimp-source.sh" "$here"/patches/*.patch; } | sha256sum | cut -c1-16)
prefix="$cache_root/deps-$key"
if [[ -f "$prefix/.complete" ]]; then
  echo "$prefix"
  exit 0
fi
# One build of a key at a time: a second run (fuzzing another reader) waits
# for the first instead of deleting its work.
mkdir -p "$cache_root"
exec 9>"$cache_root/.lock-$key"
flock 9
if [[ -f "$prefix/.complete" ]]; then
  echo "$prefix"
  exit 0
fi

jobs=$(nproc)
work="$cache_root/work-$key"
rm -rf "$work" "$prefix"
mkdir -p "$work/src" "$prefix"
log="$work/build.log"
echo "build-fuzz-deps: building sanitized Assimp into $prefix (log: $log)" >&2

fail() { echo "build-fuzz-deps: $1 failed; last lines of $log:" >&2; tail -40 "$log" >&2; exit 1; }
trap 'fail "${step:-setup}"' ERR

step="source download"
(cd "$work/src" && apt-get source -q --only-source "assimp=$ASSIMP_VERSION" "zlib=$ZLIB_VERSION" >>"$log" 2>&1)
assimp_src=$(echo "$work"/src/assimp-5.2.5*/)
zlib_src=$(echo "$work"/src/zlib-1.2.13*/)

step="Assimp source preparation"
prepare_assimp_source "$assimp_src" "$zlib_src" "$log"

step="Assimp"
# NDEBUG as in the plug-in's release build: Assimp's own asserts abort, and
# the game's copy has them compiled out.
flags="-g -O1 -DNDEBUG -fno-omit-frame-pointer $SANITIZE -I/usr/include/utf8cpp"
readers=()
for r in OBJ FBX COLLADA 3DS GLTF PLY STL X; do readers+=("-DASSIMP_BUILD_${r}_IMPORTER=ON"); done
cmake -S "$assimp_src" -B "$work/build-assimp" -G Ninja \
  -DCMAKE_C_COMPILER=$CC -DCMAKE_CXX_COMPILER=$CXX -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
  -DASSIMP_BUILD_ZLIB=OFF -DASSIMP_BUILD_MINIZIP=ON -DASSIMP_NO_EXPORT=ON \
  -DASSIMP_BUILD_ALL_IMPORTERS_BY_DEFAULT=OFF "${readers[@]}" -DASSIMP_BUILD_TESTS=OFF \
  -DASSIMP_BUILD_ASSIMP_TOOLS=OFF -DASSIMP_BUILD_SAMPLES=OFF -DASSIMP_BUILD_DOCS=OFF \
  -DASSIMP_INSTALL_PDB=OFF -DASSIMP_BUILD_DRACO=OFF -DASSIMP_WARNINGS_AS_ERRORS=OFF \
  -DASSIMP_INJECT_DEBUG_POSTFIX=OFF >>"$log" 2>&1
cmake --build "$work/build-assimp" -j "$jobs" >>"$log" 2>&1
cmake --install "$work/build-assimp" >>"$log" 2>&1

trap - ERR
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
