#!/bin/sh
# Peak memory of every scene's 1920 x 1080 frame against its budget (the
# output, the textures with their summed-area tables, the four depth-of-field
# worlds when used, and 64 MiB). Each scene and depth runs in a process of its
# own, since the peak is the process's; exits 1 when a 32-bit frame, which the
# budget is set for, goes over it. Other depths are shown against the same
# reckoning.
#
#     bench/memory.sh BUILD_DIR [THREADS]
set -eu

build=${1:?usage: memory.sh BUILD_DIR [THREADS]}
threads=${2:-2}
bench="$build/bench/bench_frame"
[ -x "$bench" ] || { echo "no $bench: build the benchmarks first" >&2; exit 1; }

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
  END { exit failed }'
