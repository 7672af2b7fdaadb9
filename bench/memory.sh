#!/bin/sh
# Peak memory against budgets, each case a process of its own (the peak is the
# process's).
#
# 1. Every bench_frame scene's 1920 x 1080 frame: the budget is the output,
#    the effect's own layer, the textures with their summed-area tables, the
#    four depth-of-field worlds when used, and 64 MiB. A 32-bit frame, which the budget is set
#    for, fails when over it; other depths are shown against the same
#    reckoning.
# 2. Large layers through veltrix-render (/usr/bin/time -v, 8 bits): a
#    10000 x 10000 solid at downsample 1, 4 and 16, a 30000 x 30000 solid at
#    downsample 64, and a 1920 x 1080 frame textured with an 8192 x 8192 8-bit
#    PNG at downsample 1 and 4. The budget is what the frame needs: the output
#    world, the layers at the render's size with their tables (the effect's
#    own layer, and the texture's with its table), the scene (the texture's
#    pixels as read) and 64 MiB, on top of the program itself: the peak of
#    the same program rendering a 16 x 16 solid (its libraries, OpenImageIO's
#    among them, are over 100 MiB resident before any frame). Each fails when
#    over; the time is shown beside it, wall clock and processor (at
#    downsample N a frame's pixel work is about 1/N^2 of the full frame's,
#    plus reading the source). The scenes and the texture are made in a
#    temporary folder (the texture with oiiotool).
#
#     bench/memory.sh BUILD_DIR [THREADS]
set -eu

build=${1:?usage: memory.sh BUILD_DIR [THREADS]}
threads=${2:-2}
bench="$build/bench/bench_frame"
render="$build/headless/render/veltrix-render"
[ -x "$bench" ] || { echo "no $bench: build the benchmarks first" >&2; exit 1; }
[ -x "$render" ] || { echo "no $render: build veltrix-render first" >&2; exit 1; }
command -v oiiotool >/dev/null || { echo "oiiotool is needed to make the texture" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed for the peaks" >&2; exit 1; }
failed=0

echo "bench_frame scenes, 1920 x 1080, $threads threads:"
for scene in default peer reflection dof photo; do
  for depth in 8 16 32; do
    printf '%s %s ' "$scene" "$depth"
    "$bench" --frame "$scene" "$depth" "$threads" 1 |
      sed -n 's/.*peak resident \([0-9.]*\) MiB, budget \([0-9.]*\) MiB.*/\1 \2/p'
  done
done | awk '
  NF != 4 { print "no peak read for " $1 " at " $2 " bits" > "/dev/stderr"; failed = 1; next }
  {
    over = $3 > $4
    if (over && $2 == 32) failed = 1
    printf "%-10s %2d bits: peak %6.1f MiB, budget %6.1f MiB%s\n", $1, $2, $3, $4,
           over ? ($2 == 32 ? "  <- over" : "  (over)") : ""
  }
  END { exit failed }' || failed=1

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

# A scene of a W x H composition whose one solid carries the effect with its
# defaults, or (with a texture file) a 1920 x 1080 one textured by it.
solid_scene() {
  printf '{"composition": {"width": %d, "height": %d}, "layers": [
  {"name": "Surface", "type": "solid", "effects": [{"effect": "Veltrix", "params": {}}]}]}\n' "$1" "$2"
}
texture_scene() {
  printf '{"composition": {"width": 1920, "height": 1080}, "layers": [
  {"name": "Sun", "type": "light", "light": {"type": "point", "intensity": 100},
   "transform": {"position": [960, 300, -800]}},
  {"name": "Checker", "type": "footage", "source": "%s", "enabled": false},
  {"name": "Surface", "type": "solid", "effects": [{"effect": "Veltrix",
   "params": {"Texture": "Checker", "Rotation X": -60, "Dist. from Center": 100, "Radius Scale": 150}}]}]}\n' "$1"
}
solid_scene 16 16 > "$tmp/solid16.json"
solid_scene 10000 10000 > "$tmp/solid10000.json"
solid_scene 30000 30000 > "$tmp/solid30000.json"
oiiotool --pattern checker 8192x8192 4 -d uint8 -o "$tmp/texture8192.png"
texture_scene texture8192.png > "$tmp/texture8192.json"

# measure SCENE DOWNSAMPLE: renders the scene at 8 bits under
# /usr/bin/time -v; sets peak (KiB), wall (as time prints it) and cpu (s).
measure() {
  if ! /usr/bin/time -v -o "$tmp/time" "$render" "$tmp/$1" --quiet --threads "$threads" \
      --downsample "$2" -o "$tmp/out.png" > "$tmp/log" 2>&1; then
    echo "$1 at downsample $2: veltrix-render failed:"; cat "$tmp/log"; return 1
  fi
  peak=$(sed -n 's/.*Maximum resident set size (kbytes): *\([0-9]*\).*/\1/p' "$tmp/time")
  wall=$(sed -n 's/.*Elapsed (wall clock) time[^:]*: *\(.*\)$/\1/p' "$tmp/time")
  cpu=$(awk -F': *' '/User time|System time/ { s += $2 } END { print s }' "$tmp/time")
}

# case NAME SCENE DOWNSAMPLE LAYER_SIDE_W LAYER_SIDE_H TEXTURE_SIDE:
# renders the scene and prints its peak and time against its budget
# (TEXTURE_SIDE 0: no texture).
run_case() {
  name=$1 layer_w=$4 layer_h=$5 texture=$6
  measure "$2" "$3" || return 1
  awk -v name="$name" -v ds="$3" -v lw="$layer_w" -v lh="$layer_h" -v tex="$texture" \
      -v peak="$peak" -v wall="$wall" -v cpu="$cpu" -v program="$program" '
    function ceil(x) { return x == int(x) ? x : int(x) + 1 }
    # A world as the host allocates it: rows padded by 48 bytes, to 16.
    function world(w, h) { return ceil((w * 4 + 48) / 16) * 16 * h }
    # An 8-bit layer table: four 32-bit words an entry, with the exact sums
    # of every 256th row and column.
    function table(w, h) {
      return (w + 1) * (h + 1) * 16 + ((int(h / 256) + 1) * (w + 1) + (int(w / 256) + 1) * (h + 1)) * 32
    }
    BEGIN {
      mib = 1048576
      ow = ceil(lw / ds); oh = ceil(lh / ds)
      output = world(ow, oh)
      layers = world(ow, oh)
      scene = 0
      if (tex > 0) { t = ceil(tex / ds); layers += world(t, t) + table(t, t); scene = tex * tex * 4 }
      budget = program * 1024 + output + layers + scene + 64 * mib
      n = split(wall, part, ":"); seconds = 0
      for (i = 1; i <= n; ++i) seconds = seconds * 60 + part[i]
      over = peak * 1024 > budget
      printf "%-36s peak %7.1f MiB, budget %7.1f MiB (program %.1f, output %.1f, layers %.1f, scene %.1f, and 64), %6.2f s (processor %.2f s)%s\n",
             name, peak / 1024, budget / mib, program / 1024, output / mib, layers / mib, scene / mib, seconds, cpu,
             over ? "  <- over" : ""
      exit over
    }'
}

measure solid16.json 1 || exit 1
program=$peak
echo "large layers through veltrix-render, 8 bits, $threads threads (the program alone: $((program / 1024)) MiB):"
run_case "solid 10000 x 10000, downsample 1" solid10000.json 1 10000 10000 0 || failed=1
run_case "solid 10000 x 10000, downsample 4" solid10000.json 4 10000 10000 0 || failed=1
run_case "solid 10000 x 10000, downsample 16" solid10000.json 16 10000 10000 0 || failed=1
run_case "solid 30000 x 30000, downsample 64" solid30000.json 64 30000 30000 0 || failed=1
run_case "8192 x 8192 texture, downsample 1" texture8192.json 1 1920 1080 8192 || failed=1
run_case "8192 x 8192 texture, downsample 4" texture8192.json 4 1920 1080 8192 || failed=1
exit $failed
