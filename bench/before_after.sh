#!/bin/bash
# Every bench_frame scene's frame time on two builds, interleaved: each round
# runs every scene on the build from before a change and then on the build
# after it, each a process of its own taking the best of 3 frames, so that
# both sides see the machine in the same state (its speed drifts from minute
# to minute). Prints a Markdown table: per scene the best and the median of
# the rounds on each side, the ratio of the medians, and each median as a
# multiple of the peer frame's on the same side.
#
#   bench/before_after.sh BEFORE_BENCH_FRAME BEFORE_PLUGIN AFTER_BENCH_FRAME AFTER_PLUGIN \
#                         [ROUNDS] [THREADS] [DEPTH]
#
# ROUNDS defaults to 5, THREADS to 2, DEPTH to 8. Each plug-in runs under its
# own bench_frame (VELTRIX_BENCH_PLUGIN), as in bench/hashes.sh, which shows
# that the two builds give the same output.
#
# Where a file lies in memory can make the same code slower for as long as it
# lies there: two builds of the plug-in, the same byte for byte, ran the peer
# frame 3 to 15 % apart, and fresh copies of the slow one ran as fast as the
# other. So each side runs from two fresh copies of its two files, one in
# even rounds and one in odd rounds. To compare a host change alone, give both
# sides the same plug-in.
set -euo pipefail
if [ $# -lt 4 ]; then
  echo "usage: $0 BEFORE_BENCH_FRAME BEFORE_PLUGIN AFTER_BENCH_FRAME AFTER_PLUGIN [ROUNDS] [THREADS] [DEPTH]" >&2
  exit 2
fi
rounds=${5:-5}
threads=${6:-2}
depth=${7:-8}
scenes=(default peer photo reflection dof)

frame_time() { # BENCH PLUGIN SCENE
  local line
  line=$(VELTRIX_BENCH_PLUGIN=$2 "$1" --frame "$3" "$depth" "$threads" 3 | head -n 1)
  echo "$line" | sed -n 's/.*best of [0-9]* \([0-9.]*\) s.*/\1/p' | grep . ||
    { echo "no frame time from $1: $line" >&2; exit 1; }
}

times=$(mktemp)
copies=$(mktemp -d)
trap 'rm -rf "$times" "$copies"' EXIT
for k in 0 1; do
  mkdir "$copies/before$k" "$copies/after$k"
  cp "$1" "$copies/before$k/bench_frame"
  cp "$2" "$copies/before$k/Veltrix.so"
  cp "$3" "$copies/after$k/bench_frame"
  cp "$4" "$copies/after$k/Veltrix.so"
done
for round in $(seq "$rounds"); do
  k=$((round % 2))
  for scene in "${scenes[@]}"; do
    echo "$scene before $(frame_time "$copies/before$k/bench_frame" "$copies/before$k/Veltrix.so" "$scene")" >>"$times"
    echo "$scene after $(frame_time "$copies/after$k/bench_frame" "$copies/after$k/Veltrix.so" "$scene")" >>"$times"
  done
  echo "round $round of $rounds done" >&2
done

median_of() { # SCENE SIDE
  awk -v s="$1" -v w="$2" '$1 == s && $2 == w { print $3 }' "$times" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
best_of() { awk -v s="$1" -v w="$2" '$1 == s && $2 == w { print $3 }' "$times" | sort -g | head -n 1; }
peer_before=$(median_of peer before)
peer_after=$(median_of peer after)
echo "| scene ($depth bits, $threads threads, $rounds rounds) | before: best (median) | after: best (median) | after / before, medians | times the peer frame, before / after |"
echo "|---|---|---|---|---|"
for scene in "${scenes[@]}"; do
  awk -v scene="$scene" -v bb="$(best_of "$scene" before)" -v mb="$(median_of "$scene" before)" \
      -v ba="$(best_of "$scene" after)" -v ma="$(median_of "$scene" after)" \
      -v pb="$peer_before" -v pa="$peer_after" 'BEGIN {
    printf "| %s | %.1f ms (%.1f) | %.1f ms (%.1f) | %.3f | %.2f / %.2f |\n", scene, bb * 1000, mb * 1000,
           ba * 1000, ma * 1000, ma / mb, mb / pb, ma / pa
  }'
done
