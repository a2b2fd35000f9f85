#!/usr/bin/env bash
# Builds the third-party libraries for i686-w64-mingw32 from Debian's source
# packages into a cache outside the clone, and prints the install prefix.
#   Assimp 5.2.5  every importer that builds, no exporters, static
#   Bullet 3.24   double precision: LinearMath, BulletCollision, BulletDynamics
#   Dear ImGui 1.86 with its Win32 and Direct3D 9 back-ends
#   googletest/gmock 1.12.1
# Our own fixes to those sources are in scripts/patches (listed in
# assimp-source.sh).
# The prefix is keyed by the source versions, this script, assimp-source.sh,
# the patches and the toolchain file, so a second run with nothing changed returns at once.
set -Eeuo pipefail  # -E: the ERR trap names the failed step inside functions too

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
toolchain="$root/cmake/i686-w64-mingw32.cmake"

source "$here/assimp-source.sh"  # ASSIMP_VERSION, ZLIB_VERSION, prepare_assimp_source
BULLET_VERSION=3.24+dfsg-2
IMGUI_VERSION=1.86+ds-1
GTEST_VERSION=$(dpkg-query -W -f='${Version}' googletest)
COMPILER_VERSION=$(i686-w64-mingw32-g++-posix -dumpfullversion)

cache_root=${VORNAK_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vornak-deps}
key=$( { echo "$ASSIMP_VERSION $BULLET_VERSION $IMGUI_VERSION $ZLIB_VERSION $GTEST_VERSION $COMPILER_VERSION"
         cat "${BASH_SOURCE[0]}" "$here/assimp-source.sh" "$toolchain" "$here"/patches/*.patch; } | sha256sum | cut -c1-16)
prefix="$cache_root/$key"
if [[ -f "$prefix/.complete" ]]; then
  echo "$prefix"
  exit 0
fi
# One build of a key at a time: a second checkout's run waits for the first
# instead of deleting its work.
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
echo "build-deps: building third-party libraries into $prefix (log: $log)" >&2

# Every library does its floating-point arithmetic in SSE2, as the plug-in
# does: x87 code would follow the precision control that Direct3D 9 leaves
# at 24 bits on the game's thread, and Bullet's double-precision ray tests
# would then run at float precision there.
FP_FLAGS="-msse2 -mfpmath=sse"

cmake_target() {  # source dir, build dir, C flags, C++ flags, extra options...
  local src=$1 build=$2 cflags=$3 cxxflags=$4; shift 4
  cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVORNAK_DEPS_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_C_FLAGS="$FP_FLAGS $cflags" -DCMAKE_CXX_FLAGS="$FP_FLAGS $cxxflags" \
    -DBUILD_SHARED_LIBS=OFF "$@" >>"$log" 2>&1
  cmake --build "$build" -j "$jobs" >>"$log" 2>&1
  cmake --install "$build" >>"$log" 2>&1
}

fetch_source() {  # package=version, directory glob
  (cd "$work/src" && apt-get source -q --only-source "$1" >>"$log" 2>&1) || {
    echo "build-deps: apt-get source $1 failed (is deb-src enabled? run scripts/install-packages.sh as root)" >&2
    tail -20 "$log" >&2; exit 1; }
}

fail() { echo "build-deps: $1 failed; last lines of $log:" >&2; tail -40 "$log" >&2; exit 1; }
trap 'fail "${step:-setup}"' ERR

step="source download"
fetch_source "assimp=$ASSIMP_VERSION"
fetch_source "bullet=$BULLET_VERSION"
fetch_source "imgui=$IMGUI_VERSION"
fetch_source "zlib=$ZLIB_VERSION"
assimp_src=$(echo "$work"/src/assimp-5.2.5*/)
bullet_src=$(echo "$work"/src/bullet-3.24*/)
imgui_src=$(echo "$work"/src/imgui-1.86*/)
zlib_src=$(echo "$work"/src/zlib-1.2.13*/)

step="Bullet"
cmake_target "$bullet_src" "$work/build-bullet" "" "-DBT_USE_DOUBLE_PRECISION" \
  -DUSE_DOUBLE_PRECISION=ON -DCMAKE_DISABLE_FIND_PACKAGE_OpenGL=ON \
  -DBUILD_BULLET3=OFF -DBUILD_PYBULLET=OFF -DBUILD_BULLET2_DEMOS=OFF \
  -DBUILD_OPENGL3_DEMOS=OFF -DBUILD_CPU_DEMOS=OFF -DBUILD_EXTRAS=OFF \
  -DBUILD_UNIT_TESTS=OFF -DBUILD_ENET=OFF -DBUILD_CLSOCKET=OFF \
  -DUSE_GLUT=OFF -DENABLE_VHACD=OFF -DINSTALL_LIBS=ON

step="Assimp source preparation"
prepare_assimp_source "$assimp_src" "$zlib_src" "$log"
step="Assimp"
cmake_target "$assimp_src" "$work/build-assimp" "-I/usr/include/utf8cpp" "-I/usr/include/utf8cpp" \
  -DASSIMP_BUILD_ZLIB=OFF -DASSIMP_BUILD_MINIZIP=ON -DASSIMP_NO_EXPORT=ON \
  -DASSIMP_BUILD_ALL_IMPORTERS_BY_DEFAULT=ON -DASSIMP_BUILD_TESTS=OFF \
  -DASSIMP_BUILD_ASSIMP_TOOLS=OFF -DASSIMP_BUILD_SAMPLES=OFF -DASSIMP_BUILD_DOCS=OFF \
  -DASSIMP_INSTALL_PDB=OFF -DASSIMP_BUILD_DRACO=OFF -DASSIMP_WARNINGS_AS_ERRORS=OFF

step="Dear ImGui"
# Upstream ships no build files; a small static library with both back-ends.
mkdir -p "$work/imgui-cmake"
cat > "$work/imgui-cmake/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(imgui CXX)
set(S "$imgui_src")
add_library(imgui STATIC \${S}/imgui.cpp \${S}/imgui_draw.cpp \${S}/imgui_tables.cpp
  \${S}/imgui_widgets.cpp \${S}/imgui_demo.cpp
  \${S}/backends/imgui_impl_win32.cpp \${S}/backends/imgui_impl_dx9.cpp)
target_include_directories(imgui PUBLIC \${S} \${S}/backends)
install(TARGETS imgui ARCHIVE DESTINATION lib)
install(FILES \${S}/imgui.h \${S}/imconfig.h \${S}/imgui_internal.h \${S}/imstb_textedit.h
  \${S}/imstb_rectpack.h \${S}/imstb_truetype.h
  \${S}/backends/imgui_impl_win32.h \${S}/backends/imgui_impl_dx9.h DESTINATION include/imgui)
CMAKE
cmake_target "$work/imgui-cmake" "$work/build-imgui" "" ""

step="googletest"
cmake_target /usr/src/googletest "$work/build-gtest" "" "" -Dgtest_disable_pthreads=OFF

trap - ERR
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
