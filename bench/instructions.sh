#!/bin/bash
# What one frame of every bench_frame scene asks of the processor: its
# instructions, a pixel and a drawn pixel, and its memory traffic, the lines
# that miss a simulated cache of this machine's L1 data cache and L2 (where
# getconf knows them; 48 KB and 1 MB otherwise). Under cachegrind, 1 thread,
# DEPTH bits (default 8), 1920 x 1080.
#
#   bench/instructions.sh BUILD [DEPTH] [SCENE ...]
#
# Each scene runs twice, for 1 frame and for 2, and the table gives the
# difference: one frame after the first, without the program's start, the
# scene's set-up or the first frame's tables. cachegrind runs the lanes
# built for x86-64-v3 (it has no 512-bit vectors), so the counts are those
# of that build; divide them by a 1-thread frame time of a build that runs
# the same lanes to get instructions a second. Takes a few minutes.
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD [DEPTH] [SCENE ...]" >&2
  exit 2
fi
build=$1
depth=${2:-8}
shift $(( $# > 1 ? 2 : 1 ))
scenes=("$@")
[ ${#scenes[@]} -gt 0 ] || scenes=(default peer photo reflection dof)
case "$depth" in 8 | 16 | 32) ;; *) echo "DEPTH is 8, 16 or 32, not $depth" >&2; exit 2 ;; esac
bench="$build/bench/bench_frame"
[ -x "$bench" ] || { echo "no $bench: build the bench_frame target first" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind is not installed (apt-get install valgrind)" >&2; exit 1; }

size_or() { local v; v=$(getconf "$1" 2>/dev/null || true); [[ "$v" =~ ^[0-9]+$ ]] && [ "$v" -gt 0 ] && echo "$v" || echo "$2"; }
l1=$(size_or LEVEL1_DCACHE_SIZE 49152)
l2=$(size_or LEVEL2_CACHE_SIZE 1048576)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# FRAMES SCENE: "instructions lines-missed drawn-pixels pixels" of a run.
counts() {
  valgrind --tool=cachegrind --cache-sim=yes --D1="$l1",12,64 --LL="$l2",8,64 \
    --cachegrind-out-file="$work/out" "$bench" --frame "$2" "$depth" 1 "$1" >"$work/frame" 2>"$work/log" ||
    { echo "bench_frame failed on $2 under cachegrind:" >&2; grep -v "^==\|^--" "$work/log" | tail -n 5 >&2; exit 1; }
  local refs missed drawn
  refs=$(sed -n 's/.*I *refs: *\([0-9,]*\).*/\1/p' "$work/log" | tr -d ,)
  missed=$(sed -n 's/.*LL misses: *\([0-9,]*\).*/\1/p' "$work/log" | tr -d ,)
  drawn=$(sed -n 's/.*drawn pixels \([0-9]*\) of \([0-9]*\).*/\1 \2/p' "$work/frame")
  [ -n "$refs" ] && [ -n "$missed" ] && [ -n "$drawn" ] || { echo "no counts for $2" >&2; exit 1; }
  echo "$refs $missed $drawn"
}

echo "| scene ($depth bits, 1 thread) | instructions | a pixel | drawn pixels | a drawn pixel | traffic past $((l2 / 1024)) KB |"
echo "|---|---|---|---|---|---|"
for scene in "${scenes[@]}"; do
  # Assigned first: a failed run then stops the script (set -e), where a
  # here-string would hand read an empty line.
  one=$(counts 1 "$scene")
  two=$(counts 2 "$scene")
  read -r i1 m1 _ _ <<<"$one"
  read -r i2 m2 drawn pixels <<<"$two"
  awk -v s="$scene" -v i="$((i2 - i1))" -v m="$((m2 - m1))" -v d="$drawn" -v p="$pixels" 'BEGIN {
    perDrawn = ""
    if (d > 0) perDrawn = sprintf("%.0f", i / d)
    printf "| %s | %.3f G | %.0f | %d | %s | %.1f MB |\n", s, i / 1e9, i / p, d, perDrawn, m * 64 / 1e6 }'
done
