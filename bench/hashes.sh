#!/bin/bash
# The output hash of every bench_frame scene at 8, 16 and 32 bits (1920 x
# 1080, 2 threads, one frame) for two builds side by side, to show that a
# change leaves every output value as it was. Exit status 1 when any differs.
#
#   bench/hashes.sh BEFORE_BENCH_FRAME BEFORE_PLUGIN AFTER_BENCH_FRAME AFTER_PLUGIN
#
# Each plug-in runs under its own bench_frame (VELTRIX_BENCH_PLUGIN), so a
# build kept from before a change is compared with the tree as it is now.
set -u
if [ $# -ne 4 ]; then
  echo "usage: $0 BEFORE_BENCH_FRAME BEFORE_PLUGIN AFTER_BENCH_FRAME AFTER_PLUGIN" >&2
  exit 2
fi
hash_of() { VELTRIX_BENCH_PLUGIN=$2 "$1" --frame "$3" "$4" 2 1 | grep -o 'hash [0-9a-f]*'; }
differing=0
for scene in default peer reflection dof photo; do
  for depth in 8 16 32; do
    before=$(hash_of "$1" "$2" $scene $depth)
    after=$(hash_of "$3" "$4" $scene $depth)
    if [ -n "$before" ] && [ "$before" = "$after" ]; then verdict=same; else verdict=DIFFERENT; differing=1; fi
    printf '%-10s %2s bits  before: %s  after: %s  %s\n' $scene $depth "$before" "$after" $verdict
  done
done
exit $differing
