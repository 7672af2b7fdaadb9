#!/bin/sh
# 2 threads against 1 on the peer frame, each side in processes of its own:
# ROUNDS rounds (default 8) of a 1-thread and a 2-thread process in turn, each
# the best of 3 frames (the whole frame as the host sees it, as in
# pov_peer.sh); prints the best and the median of each side and the ratios of
# the two. Unlike `bench_frame --scaling`, which keeps both sides in
# one process and so has each side start from caches the other one filled,
# every frame here follows frames of its own side, as in a sequence render.
#
#     bench/scaling.sh BUILD_DIR [ROUNDS] [SCENE] [DEPTH]
set -eu

build=${1:?usage: scaling.sh BUILD_DIR [ROUNDS] [SCENE] [DEPTH]}
rounds=${2:-8}
scene=${3:-peer}
depth=${4:-8}
bench="$build/bench/bench_frame"
[ -x "$bench" ] || { echo "no $bench: build the benchmarks first" >&2; exit 1; }

i=0
while [ "$i" -lt "$rounds" ]; do
  for threads in 1 2; do
    "$bench" --frame "$scene" "$depth" "$threads" 3 |
      sed -n "s/.*best of [0-9]* \([0-9.]*\) s.*/$threads \1/p"
  done
  i=$((i + 1))
done | sort -k1,1n -k2,2n | awk -v scene="$scene" -v depth="$depth" '
  { t[$1, ++n[$1]] = $2 }
  END {
    if (n[1] == 0 || n[2] == 0) { print "no frame times read" > "/dev/stderr"; exit 1 }
    b1 = t[1, 1]; b2 = t[2, 1]
    m1 = t[1, int((n[1] + 1) / 2)]; m2 = t[2, int((n[2] + 1) / 2)]
    printf "scene %s depth %d, %d rounds: 1 thread best %.4f s, median %.4f s; 2 threads best %.4f s, median %.4f s\n",
           scene, depth, n[1], b1, m1, b2, m2
    printf "2 threads are %.3fx faster, best against best; %.3fx, median against median (target: 1.9x)\n",
           b1 / b2, m1 / m2
  }'
