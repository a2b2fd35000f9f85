# Assimp's Debian source made buildable, shared by build-deps.sh (the
# plug-in's libraries) and build-fuzz-deps.sh (the sanitized fuzzing build),
# so both build the same source with the same fixes. Sourced, not run.

ASSIMP_VERSION=5.2.5~ds0-1
ZLIB_VERSION=1:1.2.13.dfsg-1

# prepare_assimp_source ASSIMP_SRC ZLIB_SRC LOG: Debian strips the bundled
# minizip, stb and draco; put back what the importers need from Debian's own
# packages, then apply our fixes from scripts/patches exactly (no fuzz) or
# stop:
#   assimp-terragen-chunk-loop.patch  the Terragen (.ter) reader's padding
#     step went backwards in a 32-bit build, so its chunk loop never ended
#     and a map naming such a file hung its load.
#   assimp-ply-face-index.patch  the PLY reader kept face indices beyond
#     the vertex array, and the post-processing steps read the vertices
#     through them: a bad index crashed the host with the import. Such a
#     file now fails to import.
#   assimp-ply-header-end.patch  the PLY header parser ignored the end of
#     the data: a header cut off before end_header read its last line for
#     ever. Such a file now fails to import.
#   assimp-ply-instances-and-empty-faces.patch  a second vertex or face
#     element of the PLY reader wrote past the arrays sized for the first,
#     a face or strip without an index reached SortByPTypeProcess, and
#     texture coordinates were stored through indices a face lacked.
#   assimp-iostreambuffer-line-end.patch  the line buffer of the PLY (and
#     OBJ) reader skipped a '\0' or '\r' line end past the data it had read
#     and then read on past its cache.
#   assimp-obj-mtl-no-material.patch  an anisotropy or texture line before
#     the first newmtl of a material file wrote through a null material.
#   assimp-utf32-bom.patch  the UTF-32 byte order mark conversion of the
#     text readers (STL, OBJ, X) read and wrote past the file buffer.
#   assimp-collada-primitives.patch  the COLLADA primitives: a word that is
#     not a number in <p> hung the import; an accessor reaching past its
#     float_array, and primitives without a VERTEX input, read past arrays.
#   assimp-fbx-binary-lengths.patch  the binary FBX tokenizer checked
#     lengths from the file with pointer sums that wrap, and read past the
#     buffer.
#   assimp-x-indices.patch  the X reader kept a vertex index equal to the
#     vertex count, never checked normal indices, let a face end up with no
#     index (an out-of-bounds write in SortByPTypeProcess), looked up a
#     material in an empty list, wrote bone weights for any vertex index
#     and looked up a face for every per-face material index.
#   assimp-fbx-model-cycle.patch  an FBX model connected below itself sent
#     the node conversion round the cycle until the stack overflowed.
#   assimp-fbx-layer-index.patch  an FBX geometry Layer without its index
#     read the first of no tokens.
#   assimp-x-sizes.patch, assimp-ply-sizes.patch, assimp-glb-json-length.patch
#     counts and lengths read from an X, PLY or binary glTF file sized
#     arrays of gigabytes before any element was read; a count beyond what
#     the file holds now fails the import (and the .glb JSON length no
#     longer wraps to an empty buffer in a 32-bit build).
#   assimp-material-out-of-memory.patch  a material property array that
#     could not grow kept its doubled size, and the next property was
#     written past its end; a replaced property was deleted before its
#     successor was allocated.
#   assimp-joinvertices-out-of-memory.patch  the vertex joining step kept
#     freed arrays in a mesh when their replacements could not be
#     allocated, and the failed import freed them again.
#     These two were found by failing each allocation of an import in turn
#     (renderer_model_import_test, faults_allocation_sweep_test).
#   assimp-obj-cache-size.patch  the OBJ reader allocated and filled a
#     16 MB line cache for every file, however small; the cache is now the
#     file's size.
#   assimp-obj-face-tokens.patch  a face token the OBJ reader reported
#     as not supported sent the face's walk on past its line buffer; an
#     index's step counted the digits of its value, not of its text.
prepare_assimp_source() {
  local assimp_src=$1 zlib_src=$2 log=$3 fix
  sed -i '/find_package(draco/d; /draco::draco/d' "$assimp_src/code/CMakeLists.txt"
  if [[ -f "$assimp_src/cmake-modules/assimp-plain-config.cmake.in" ]]; then
    sed -i '/draco/d' "$assimp_src/cmake-modules/assimp-plain-config.cmake.in"
  fi
  mkdir -p "$assimp_src/contrib/unzip" "$assimp_src/contrib/stb"
  cp "$zlib_src"/contrib/minizip/{ioapi.c,ioapi.h,unzip.c,unzip.h,crypt.h} "$assimp_src/contrib/unzip/"
  sed -i '/crypt\.c/d' "$assimp_src/code/CMakeLists.txt"
  cp /usr/include/stb/stb_image.h "$assimp_src/contrib/stb/"
  for fix in "$(dirname "${BASH_SOURCE[0]}")"/patches/assimp-*.patch; do
    patch -p1 --forward --batch --fuzz=0 -d "$assimp_src" <"$fix" >>"$log" 2>&1 || {
      echo "$(basename "$fix") does not apply to Assimp $ASSIMP_VERSION; last lines of $log:" >&2
      tail -20 "$log" >&2; exit 1; }
  done
}
