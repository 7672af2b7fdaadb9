#!/bin/sh
# The peer, side by side in one run: POV-Ray 3.7 traces the frame that
# bench_frame's "peer" scene renders (the hyperboloid z^2/100^2 - x^2/30^2 -
# y^2/30^2 = 1 with a 512 x 512 checker image map, one point light inside the
# facing bowl, ambient light, a camera on the axis 1150 px from the centre
# with a 1500 px focal length, the bowl clipped to the part the texture
# covers, 1920 x 1080, a fixed 3 x 3 anti-aliasing grid on
# every pixel, 2 threads), then Veltrix renders its scene in-process, and the
# script prints both times and their ratio. The sides take turns, REPEATS
# rounds (default 3) of one POV-Ray run and the best of three Veltrix frames.
#
#     bench/pov_peer.sh BUILD_DIR [REPEATS] [THREADS]
#
# POV-Ray's time is its own "Trace Time" (parsing and file writing left out);
# ours is the whole frame as the host sees it (pre-render, layer checkout,
# summed-area tables, the pixel pass), 8 bits per channel like POV-Ray's PNG.
set -eu

build=${1:?usage: pov_peer.sh BUILD_DIR [REPEATS] [THREADS]}
repeats=${2:-3}
threads=${3:-2}
bench="$build/bench/bench_frame"
[ -x "$bench" ] || { echo "no $bench: build the benchmarks first" >&2; exit 1; }
command -v povray >/dev/null || { echo "povray is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The checker the scene's footage layer holds: 8 x 8 squares of 64 pixels,
# (0.9, 0.9, 0.3) and (0.15, 0.15, 0.6).
python3 - "$work/checker.ppm" <<'EOF'
import sys
size, cells = 512, 8
light, dark = bytes([230, 230, 77]), bytes([38, 38, 153])
rows = []
for y in range(size):
    row = b"".join(dark if ((x * cells // size) + (y * cells // size)) % 2 else light for x in range(size))
    rows.append(row)
with open(sys.argv[1], "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (size, size) + b"".join(rows))
EOF

# POV-Ray's y points up where the composition's points down; the surface is
# symmetric, so only the light's y changes sign.
cat > "$work/peer.pov" <<'EOF'
#version 3.7;
global_settings { assumed_gamma 1.0 ambient_light rgb 1 }
camera {
  perspective
  location <0, 0, -1150>
  direction <0, 0, 1500>
  right <1920, 0, 0>
  up <0, 1080, 0>
}
light_source { <100, 80, -600> color rgb 1 }
quadric {
  <-1/900, -1/900, 1/10000>, <0, 0, 0>, <0, 0, 0>, -1
  // the texture covers the facing bowl from its vertex to one texture height
  // (512) out; Veltrix shows nothing beyond it
  clipped_by { box { <-10000, -10000, -612>, <10000, 10000, -100> } }
  texture {
    pigment { image_map { ppm "checker.ppm" map_type 2 interpolate 2 } scale <1, 512, 1> rotate x*90 translate <0, 0, -612> }
    finish { ambient 0.2 diffuse 0.9 specular 0.4 roughness 0.02 }
  }
}
EOF

# The two take turns, a POV-Ray run and then a few Veltrix frames, so that
# both see the machine in the same state: its speed drifts from minute to
# minute. Each round gives a ratio; the script prints the best time of each
# side, their ratio, and the median of the rounds' ratios.
best_pov=""
best_ours=""
ratios=""
for i in $(seq "$repeats"); do
  (cd "$work" && povray +Ipeer.pov +Opeer.png +FN +W1920 +H1080 +A0.0 +AM1 +R3 -J +WT"$threads" -D -V \
     >pov.log 2>&1) || { cat "$work/pov.log" >&2; exit 1; }
  t=$(sed -n 's/^ *Trace Time:.*(\([0-9.]*\) seconds).*/\1/p' "$work/pov.log" | head -n 1)
  [ -n "$t" ] || { echo "no trace time in POV-Ray's log:" >&2; cat "$work/pov.log" >&2; exit 1; }
  line=$("$bench" --frame peer 8 "$threads" 3 | head -n 1)
  ours=$(echo "$line" | sed -n 's/.*best of [0-9]* \([0-9.]*\) s.*/\1/p')
  [ -n "$ours" ] || { echo "no frame time from $bench: $line" >&2; exit 1; }
  echo "round $i: POV-Ray trace time $t s, Veltrix frame $ours s (best of 3): $(awk -v a="$t" -v b="$ours" 'BEGIN { printf "%.1fx", a / b }')"
  best_pov=$(awk -v a="$t" -v b="$best_pov" 'BEGIN { print (b == "" || a < b) ? a : b }')
  best_ours=$(awk -v a="$ours" -v b="$best_ours" 'BEGIN { print (b == "" || a < b) ? a : b }')
  ratios="$ratios $(awk -v a="$t" -v b="$ours" 'BEGIN { print a / b }')"
done
echo "Veltrix: $line"

median=$(echo "$ratios" | tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
awk -v pov="$best_pov" -v ours="$best_ours" -v th="$threads" -v median="$median" 'BEGIN {
  printf "POV-Ray 3.7 trace time (best): %.3f s\n", pov
  printf "Veltrix frame time (best):     %.4f s\n", ours
  printf "Veltrix is %.1fx faster on %d threads, best against best; %.1fx, the median of the rounds (target: 50x, playback speed)\n", pov / ours, th, median
}'
