#!/usr/bin/env bash
# veltrix-render --submit slurm on a real one-node cluster (local_slurm.sh),
# started for this test in a folder, a network (loopback only) and a process
# namespace of its own, and stopped, with its files removed, whatever happens
# (killed outright, the namespace still takes the daemons with it; only the
# folder in /tmp is then left).
#
#   slurm_job_test.sh VELTRIX_RENDER SOURCE_DIR
#
# 1. 24 frames of examples/animated.json in chunks of 4: every frame written,
#    pixel for pixel the frame a local run of the same options renders (idiff
#    compares pixels; files record nothing of the run that differs anyway).
#    Prints both wall times.
# 2. A held job of the same frames: one array task cancelled (scancel JOB_2),
#    another made to fail (its first output's name taken by a folder), then
#    released. --collect names the missing frames, the cancelled and the
#    failed task and the failure's reason; re-submitting with --skip-existing
#    submits those two tasks only, renders just their frames, and leaves the
#    others' files untouched.
#
# Needs root and Slurm (scripts/test installs slurm-wlm and munge); fails,
# saying so, without them.
set -uo pipefail

render=$1
source_dir=$2
scene="$source_dir/examples/animated.json"
# Small frames: the sanitized suite runs this at -O0.
options=(--frames 0-23 --downsample 4 --quiet)

fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "the cluster's daemons need root (run the suite as root, as CI does)"
for program in munged mungekey slurmctld slurmd sbatch squeue scancel scontrol sinfo idiff unshare ip; do
  command -v "$program" >/dev/null ||
    fail "$program is not installed (scripts/test installs slurm-wlm, munge and openimageio-tools)"
done

source "$source_dir/tests/cluster/local_slurm.sh"
cluster_isolate "$0" "$@"
work=$(mktemp -d -t veltrix-slurm-test.XXXXXX) # in $TMPDIR, else /tmp
cleanup() {
  cluster_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

cluster_start "$work/cluster" || fail "the cluster did not start"
# Output folders with a space, so that quoting is tested on the way.
mkdir -p "$work/local frames" "$work/farm frames"
cd "$work" || fail "no work folder"

seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# wait_job ID: until no task of job ID is pending or running (90 s at most).
wait_job() {
  local i
  for i in $(seq 1 450); do
    [ -z "$(squeue -h -r -j "$1" -t pending,running,configuring,completing 2>/dev/null)" ] && return 0
    sleep 0.2
  done
  squeue -r -j "$1"
  fail "job $1 did not end within 90 s"
}

# submit OUTPUT_LOG ARGS...: submits; prints the job id.
submit() {
  local log=$1; shift
  "$render" "$scene" "${options[@]}" -o "farm frames/f_####.png" --submit slurm "$@" >"$log" 2>&1 ||
    { cat "$log" >&2; fail "--submit slurm exited with $?"; }
  sed -n 's/^submitted job \([0-9]*\):.*/\1/p' "$log"
}

# same_frames: every farm frame equals its local twin, pixel for pixel.
same_frames() {
  local n name count=0
  for n in $(seq 0 23); do
    name=$(printf 'f_%04d.png' "$n")
    [ -f "farm frames/$name" ] || fail "frame $n was not written ($name)"
    idiff -q -fail 0 -failpercent 0 "local frames/$name" "farm frames/$name" >/dev/null ||
      fail "frame $n differs from the local render: $(idiff -fail 0 "local frames/$name" "farm frames/$name" 2>&1 | tail -n 3)"
    count=$((count + 1))
  done
  echo "$count frames equal the local render pixel for pixel"
}

echo "== 24 frames in chunks of 4"
start=$(seconds)
"$render" "$scene" "${options[@]}" -o "local frames/f_####.png" || fail "the local render failed"
local_time=$(elapsed "$start" "$(seconds)")

start=$(seconds)
job=$(submit first.txt --chunk 4)
[ -n "$job" ] || { cat first.txt; fail "no job id in the submission's output"; }
grep -q "6 of 6 tasks of up to 4 frames" first.txt || { cat first.txt; fail "expected 6 tasks of 4 frames"; }
wait_job "$job"
farm_time=$(elapsed "$start" "$(seconds)")
same_frames
for task in 0 1 2 3 4 5; do
  grep -q "task $task: frames .* done$" "farm frames/f.slurm-logs/${job}_$task.log" ||
    fail "task $task's log does not end well: $(cat "farm frames/f.slurm-logs/${job}_$task.log")"
done
"$render" "$scene" "${options[@]}" -o "farm frames/f_####.png" --collect "$job" >collect.txt ||
  { cat collect.txt; fail "--collect finds frames missing from a complete job"; }
echo "wall time, 24 frames: one local process ${local_time} s; the cluster job, submission to last task, ${farm_time} s (6 tasks)"

echo "== a cancelled task and a failed one, then the re-submission"
rm -f "farm frames"/f_*.png
job=$(submit second.txt --chunk 4 --slurm-arg=--hold)
[ -n "$job" ] || { cat second.txt; fail "no job id in the held submission's output"; }
scancel "${job}_2" || fail "scancel ${job}_2 failed"
mkdir "farm frames/f_0012.png"    # task 3's first frame cannot be written
scontrol release "$job" || fail "scontrol release $job failed"
wait_job "$job"
"$render" "$scene" "${options[@]}" -o "farm frames/f_####.png" --collect "$job" >collect.txt 2>&1
code=$?
cat collect.txt
[ "$code" -eq 1 ] || fail "--collect exited with $code, not 1, with frames missing"
grep -q "16 of 24 frames written, 8 missing" collect.txt || fail "--collect miscounts the frames"
grep -q "frames 8-11: task 2 has no log and the scheduler no longer lists it" collect.txt ||
  fail "--collect does not name the cancelled task"
grep -q "frames 12-15: task 3, FAILED" collect.txt || fail "--collect does not name the failed task"
grep -q "f_0012.png: is a folder" collect.txt || fail "--collect does not give the failure's reason"
grep -q "failed with exit code 2" "farm frames/f.slurm-logs/${job}_3.log" ||
  fail "the failed task's log does not say it failed"

rmdir "farm frames/f_0012.png"
before=$(stat -c '%n %Y %i' "farm frames"/f_*.png | sort)
job=$(submit third.txt --chunk 4 --skip-existing)
grep -q "2 of 6 tasks" third.txt || { cat third.txt; fail "the re-submission is not just the 2 unfinished tasks"; }
wait_job "$job"
logs=$(ls "farm frames/f.slurm-logs" | grep "^${job}_" | tr '\n' ' ')
[ "$logs" = "${job}_2.log ${job}_3.log " ] || fail "the re-submission ran tasks $logs, not 2 and 3"
after=$(stat -c '%n %Y %i' "farm frames"/f_*.png | sort)
[ "$(comm -23 <(echo "$before") <(echo "$after"))" = "" ] ||
  fail "the re-submission touched frames that were already written"
same_frames
echo "PASS"
