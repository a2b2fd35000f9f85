#!/usr/bin/env bash
# The watch's answer to a save: the generated sample map with one more
# group, a model of 100,352 triangles (a grid of quads, OBJ); the watch
# (vornak_preview.exe --watch) runs, the model is saved again moved by 5
# units, and the time from the save to the updated pictures and page (then
# to the contact sheet) is measured, against the baseline of the same run:
# the first full set of views. Goal: at most 5 s. Runs inside a Wine session (scripts/run-benchmarks.sh
# starts one).
#   bench/preview_watch_bench.sh BUILD_DIR
set -Eeuo pipefail
bin=$(cd "$1" && pwd)/bin
work=$(mktemp -d)
watcher=
trap '[[ -n $watcher ]] && kill "$watcher" 2>/dev/null; rm -rf "$work"' EXIT
game="$work/game"
mkdir -p "$game"
wine "$bin/vornak_mapgen.exe" "$(winepath -w "$game")" >/dev/null
big() {  # x offset: a 224 x 224 grid of quads, 60 units across, a little hill
  python3 - "$game/maps/sample/big.obj" "$1" <<'PY'
import math, sys
path, dx, n = sys.argv[1], float(sys.argv[2]), 224
with open(path, "w") as out:
    out.write("mtllib big.mtl\nusemtl big\n")
    for j in range(n + 1):
        for i in range(n + 1):
            x, z = i * 60.0 / n, j * 60.0 / n
            out.write("v %.3f %.3f %.3f\nvt %.4f %.4f\n" % (dx + x, 2 + 3 * math.sin(x / 9) * math.cos(z / 7), z, i / n, j / n))
    out.write("vn 0 1 0\n")
    for j in range(n):
        for i in range(n):
            a = j * (n + 1) + i + 1
            b, c, d = a + 1, a + n + 2, a + n + 1
            out.write("f %d/%d/1 %d/%d/1 %d/%d/1 %d/%d/1\n" % (a, a, d, d, c, c, b, b))
PY
}
big 20
printf 'newmtl big\nmap_Kd concrete.png\n' >"$game/maps/sample/big.mtl"
printf 'MapModel40Path=maps\\sample\\big.obj\r\n' >>"$game/maps/sample.ini"

start=$(date +%s.%N)
: >"$work/watch.txt"
wine "$bin/vornak_preview.exe" "$(winepath -w "$game")" --out "$(winepath -w "$work/views")" --watch --updates 1 \
  >"$work/watch.txt" 2>&1 &
watcher=$!
for _ in $(seq 3000); do grep -q '^watching' "$work/watch.txt" && break; sleep 0.1; done
grep -q '^watching' "$work/watch.txt" || { cat "$work/watch.txt"; exit 1; }
full=$(echo "$(date +%s.%N) - $start" | bc)
sleep 1
big 25 >/dev/null
saved=$(date +%s.%N)
wait "$watcher" || { cat "$work/watch.txt"; exit 1; }
watcher=
# A Windows program's lines end in CR LF.
tr -d '\r' <"$work/watch.txt" >"$work/watch_lines.txt"
page_at=$(sed -n 's/.* page at \([0-9.]*\);.*/\1/p' "$work/watch_lines.txt")
done_at=$(sed -n 's/.* done at \([0-9.]*\)$/\1/p' "$work/watch_lines.txt")
answer=$(echo "$page_at - $saved" | bc)
echo "preview_watch_bench: $(nproc) processors; a 100,352-triangle model saved again"
printf '  from the save to the updated pictures and page %.1f s (goal at most 5 s); the first full views %.1f s; ratio %.2f\n' \
  "$answer" "$full" "$(echo "$answer / $full" | bc -l)"
printf '  from the save to the contact sheet too %.1f s\n' "$(echo "$done_at - $saved" | bc)"
grep '^updated' "$work/watch_lines.txt" | sed 's/^/  /'
