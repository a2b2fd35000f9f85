#!/usr/bin/env bash
# The automatic views of a map the project did not generate: the example
# game directory plus models in other formats (PLY, STL, glTF) of other
# sizes and origins, one with an STL LOD. Checks that every view and the
# collision views are written and show the map (not only sky), that a
# group's near view draws its members (the tower's bricks) where its LOD
# view does not, that the contact sheet is made, and that index.html loads
# in headless Chromium with every picture and no script error. Then the
# watch: a moved tower is taken again, a roof saved half-way keeps the last
# good picture and the page names the error. All through vornak_preview.exe,
# the authors' command. Runs inside a Wine session (the test command's).
#   scripts/test-views.sh BUILD_DIR
set -Eeuo pipefail
trap 'echo "test-views: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$(cd "$1" && pwd)/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/vornak-views-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "test-views: $*" >&2; exit 1; }

game="$work/game"
cp -r "$root/sample/game" "$game"
mkdir -p "$game/maps/extra"
python3 - "$game/maps/extra" <<'PY'
import base64, struct, sys
out = sys.argv[1]

def box(cx, cy, cz, sx, sy, sz):
    """Corners and quads (outward, counter-clockwise) of a box, y up."""
    corners = [(cx + x * sx / 2, cy + y * sy / 2, cz + z * sz / 2)
               for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)]
    quads = [((0, 1, 3, 2), (-1, 0, 0)), ((4, 6, 7, 5), (1, 0, 0)), ((0, 4, 5, 1), (0, -1, 0)),
             ((2, 3, 7, 6), (0, 1, 0)), ((0, 2, 6, 4), (0, 0, -1)), ((1, 5, 7, 3), (0, 0, 1))]
    return corners, quads

# A large block far from the origin, in ASCII PLY with normals.
corners, quads = box(400, 15, -250, 120, 30, 80)
vertices, faces = [], []
for quad, n in quads:
    faces.append([len(vertices) + i for i in range(4)])
    vertices += [corners[i] + n for i in quad]
with open(f"{out}/block.ply", "w") as f:
    f.write("ply\nformat ascii 1.0\nelement vertex %d\nproperty float x\nproperty float y\nproperty float z\n"
            "property float nx\nproperty float ny\nproperty float nz\nelement face %d\n"
            "property list uchar int vertex_indices\nend_header\n" % (len(vertices), len(faces)))
    for v in vertices: f.write("%g %g %g %g %g %g\n" % v)
    for q in faces: f.write("4 %d %d %d %d\n" % tuple(q))

# The block's stand-in and a small ramp, in ASCII STL.
def stl(path, triangles):
    with open(path, "w") as f:
        f.write("solid part\n")
        for n, a, b, c in triangles:
            f.write("facet normal %g %g %g\nouter loop\n" % n)
            for p in (a, b, c): f.write("vertex %g %g %g\n" % p)
            f.write("endloop\nendfacet\n")
        f.write("endsolid part\n")
corners, quads = box(400, 16, -250, 124, 32, 84)
stl(f"{out}/block_lod.stl", [t for quad, n in quads
                             for t in ((n, corners[quad[0]], corners[quad[1]], corners[quad[2]]),
                                       (n, corners[quad[0]], corners[quad[2]], corners[quad[3]]))])
stl(f"{out}/ramp.stl", [((0, 0.6, -0.8), (-64, 0, 56), (-56, 0, 56), (-56, 3, 60)),
                        ((0, 0.6, -0.8), (-64, 0, 56), (-56, 3, 60), (-64, 3, 60))])

# A sign standing on the ground, glTF with its buffer embedded.
positions = [(-10, 0, -40), (10, 0, -40), (10, 8, -40), (-10, 8, -40)]
normals = [(0, 0, 1)] * 4
indices = [0, 1, 2, 0, 2, 3]
data = b"".join(struct.pack("<3f", *p) for p in positions) + b"".join(struct.pack("<3f", *n) for n in normals)
data += struct.pack("<6H", *indices)
gltf = {"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}], "nodes": [{"mesh": 0}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "NORMAL": 1}, "indices": 2}]}],
        "buffers": [{"byteLength": len(data),
                     "uri": "data:application/octet-stream;base64," + base64.b64encode(data).decode()}],
        "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 48}, {"buffer": 0, "byteOffset": 48, "byteLength": 48},
                        {"buffer": 0, "byteOffset": 96, "byteLength": 12}],
        "accessors": [{"bufferView": 0, "componentType": 5126, "count": 4, "type": "VEC3",
                       "min": [-10, 0, -40], "max": [10, 8, -40]},
                      {"bufferView": 1, "componentType": 5126, "count": 4, "type": "VEC3"},
                      {"bufferView": 2, "componentType": 5123, "count": 6, "type": "SCALAR"}]}
import json
with open(f"{out}/sign.gltf", "w") as f: json.dump(gltf, f)
PY
cat >>"$game/maps/example.ini" <<'INI'
MapModel10Path=maps\extra\block.ply
MapModel10LODPath=maps\extra\block_lod.stl
MapModel11Path=maps\extra\ramp.stl
MapModel12Path=maps\extra\sign.gltf
MapCollision2Path=maps\extra\ramp.stl
INI

start=$(date +%s.%N)
wine "$bin/vornak_preview.exe" "$(winepath -w "$game")" --out "$(winepath -w "$work/views")" \
  --plugin "$(winepath -w "$bin/VornakMapLoader.dll")" >"$work/log.txt" 2>&1 ||
  { cat "$work/log.txt"; fail "the views could not be made"; }
seconds=$(echo "$(date +%s.%N) - $start" | bc)
views="$work/views"
grep -q "Result: clean" "$views/check.txt" || { cat "$views/check.txt"; fail "the checker finds the test map not clean"; }

expected="overview corner_ne corner_nw corner_se corner_sw overview_collisions"
for group in 000 001 002 003 010 011 012; do expected+=" group_${group}_main"; done
expected+=" group_002_lod group_010_lod"
for name in $expected contact_sheet; do [[ -f $views/$name.png ]] || fail "no $name.png"; done
planned=$(cat "$views/overview_views.txt" "$views/views.txt" | grep -vc '^#')
[[ $planned -eq 14 ]] || fail "$planned views planned, not 14: $(cat "$views/overview_views.txt" "$views/views.txt")"

# What the pictures show: the share of pixels that are not sky, and of the
# tower's brick red.
python3 - "$views" $expected <<'PY' || fail "a picture does not show what it should"
import struct, sys, zlib
def pixels(path):
    data = open(path, "rb").read()
    pos, chunks, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR": width, height = struct.unpack(">II", body[:8])
        if kind == b"IDAT": chunks += body
        pos += 12 + length
    raw, rows, stride, prev = zlib.decompress(chunks), [], width * 3, bytearray(width * 3)
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 3] if i >= 3 else 0
            b, c = prev[i], prev[i - 3] if i >= 3 else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line)); prev = line
    return [tuple(r[i:i + 3]) for r in rows for i in range(0, stride, 3)]
folder, names, ok = sys.argv[1], sys.argv[2:], True
for name in names:
    px = pixels(f"{folder}/{name}.png")
    sky = px[0]
    share = sum(p != sky for p in px) / len(px)
    red = sum(p[0] > p[1] + 40 and p[0] > p[2] + 40 for p in px) / len(px)
    print(f"{name}: {share:.1%} map, {red:.1%} brick red")
    if share < 0.02: print(f"  {name} shows only sky"); ok = False
    if name == "group_002_main" and red < 0.05: print("  the tower's near view lacks its bricks"); ok = False
    if name == "group_002_lod" and red > 0.01: print("  the tower's LOD view shows bricks"); ok = False
sys.exit(0 if ok else 1)
PY

# The page, in a real browser: every picture shown, no script error.
dom=""
open_page() {
  dom=$(chromium --headless --no-sandbox --disable-gpu --virtual-time-budget=10000 --dump-dom \
    "file://$views/index.html" 2>/dev/null)
  local body pictures loaded
  body=$(grep -o '<body[^>]*>' <<<"$dom")
  [[ $body != *data-errors* ]] || fail "index.html has script errors: $body"
  pictures=$(sed -n 's/.*data-pictures="\([0-9]*\)".*/\1/p' <<<"$body")
  loaded=$(sed -n 's/.*data-pictures-loaded="\([0-9]*\)".*/\1/p' <<<"$body")
  [[ -n $pictures && $pictures == "$loaded" && $body != *data-pictures-failed* ]] ||
    fail "index.html shows $loaded of $pictures pictures: $body"
  echo "index.html shows all $pictures pictures"
}
open_page
grep -q 'maps\\\\extra\\\\block.ply' "$views/index.html" || fail "index.html does not embed the checker's report"
echo "views made in $seconds s"

# The watch, on a fresh output: two saves.
rm -rf "$views"
: >"$work/watch.txt"
wine "$bin/vornak_preview.exe" "$(winepath -w "$game")" --out "$(winepath -w "$views")" --watch --updates 2 \
  >"$work/watch.txt" 2>&1 &
watcher=$!
wait_for() {  # pattern, count
  for _ in $(seq 600); do
    [[ $(grep -c "$1" "$work/watch.txt") -ge $2 ]] && return 0
    kill -0 "$watcher" 2>/dev/null || break
    sleep 0.2
  done
  cat "$work/watch.txt"
  fail "the watch did not say '$1' $2 times"
}
wait_for '^watching' 1
before=$(md5sum <"$views/group_002_main.png")
# An editor that saves in two writes a moment apart (the file empty, then
# written): the watch waits for the quiet after both, takes the views once
# from the whole file, and still has its second update for the roof below.
moved_tower=$(sed 's/^v 26 /v 20 /' "$game/maps/example/tower.obj")
: >"$game/maps/example/tower.obj"
sleep 0.1
printf '%s\n' "$moved_tower" >"$game/maps/example/tower.obj"
wait_for '^watching' 2
moved=$(md5sum <"$views/group_002_main.png")
[[ $moved != "$before" ]] || fail "the moved tower's picture was not taken again"
grep -q "^updated [1-9].* after 1 changed files" "$work/watch.txt" ||
  fail "the watch took no view again for the one file saved: $(cat "$work/watch.txt")"
# Only the tower's group and the overview and corners: no other group's view, no collision view.
touched=$(($(grep -c '^group_002_' "$views/views.txt") + $(grep -vc '^#' "$views/overview_views.txt")))
grep -q "^updated $touched views" "$work/watch.txt" ||
  fail "the moved tower took other than its group's and the overview's $touched views: $(grep '^updated' "$work/watch.txt")"
printf 'solid half\nfacet normal 0 1' >"$game/maps/example/tower_roof.obj"
wait "$watcher" || { cat "$work/watch.txt"; fail "the watch failed"; }
[[ $(md5sum <"$views/group_002_main.png") == "$moved" ]] || fail "a file saved half-way replaced the last good picture"
open_page
grep -q 'tower_roof.obj' <<<"$(grep -o '<p id="error">[^<]*' <<<"$dom")" ||
  fail "the page does not name the file that failed: $(grep -o '<p id="error">[^<]*' <<<"$dom")"
echo "views test passed: $(grep '^updated' "$work/watch.txt" | head -1)"
