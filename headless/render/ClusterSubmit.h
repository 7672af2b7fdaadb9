// Rendering on a cluster: `--submit slurm` turns a run of frames into a Slurm
// array job, one task per chunk of frames, and `--collect JOBID` says which
// frames of such a job are missing and why.
//
// Every task runs this program with the user's own options and a --frames
// list of its chunk, so each frame is the one a local run writes. The job
// script (beside the outputs: `<name>.slurm.sh`, logs in `<name>.slurm-logs/`,
// where <name> is the output's file name without its '#' run) holds the
// table of chunks; sbatch and the scheduler's queries are run as child
// processes with their arguments as they are, never through a shell.
//
// The pure functions (chunking, frame lists, the script's text, sbatch's
// arguments, the memory request) are declared first, for tests that need
// no cluster.
//
// Thread safety: pure functions, except submitJob and collectJob, which touch
// the file system and run the scheduler's commands.
#pragma once

#include "headless/render/FramePlan.h"
#include "headless/render/Options.h"

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace veltrix_render {

// Frames as a --frames list: runs of equal steps as "A-B" or "A-BxN", others
// as single numbers, in the order given ("0-3", "1001-1100x4,1200").
std::string frameListText(const std::vector<long> &frames);

// `frames` in consecutive chunks of `chunk` (the last may be shorter).
std::vector<std::vector<long>> splitIntoChunks(const std::vector<long> &frames, long chunk);

// Frames per task for about kTaskSeconds of work each, from one frame's
// time: at least 1, at most `frames`.
inline constexpr double kTaskSeconds = 60.0;
long chunkForSeconds(double secondsPerFrame, std::size_t frames);

// The memory a task asks for, in MiB, from a frame's measured peak: half as
// much again, for frames that cost more than the one measured, rounded up to
// 64 MiB. 0 (ask for nothing) when the peak is unknown.
long memoryRequestMiB(double peakMiB);

// `text` as one word for a POSIX shell, whatever it holds.
std::string shellQuote(const std::string &text);

// Array indices as sbatch's --array list: "0-5", "1,3-4".
std::string arrayList(const std::vector<std::size_t> &tasks);

// Whether the user's sbatch arguments name a memory request of their own.
bool asksForMemory(const std::vector<std::string> &sbatchArgs);

struct ClusterJob {
    std::string name;                 // the job's name in the queue
    std::string scene;                // for the script's first line
    std::string script;               // where the script goes
    std::string logFolder;            // one log per task: <jobid>_<task>.log
    std::string workFolder;           // where the tasks start: the submitting folder
    std::vector<std::string> command; // program and arguments, less --frames
    std::vector<std::string> chunks;  // task i renders --frames chunks[i]
    std::vector<std::size_t> tasks;   // the array indices submitted
    long memoryMiB = 0;               // 0: no request
    int cpusPerTask = 0;              // 0: no request
    std::string partition;
    std::vector<std::string> extraArgs; // --slurm-arg, after ours
};

// The log name pattern of sbatch's --output ('%' in folders escaped).
std::string logPattern(const ClusterJob &job);

// sbatch's arguments (without "sbatch"): ours, the user's, the script.
std::vector<std::string> sbatchArguments(const ClusterJob &job);

// The job script: the chunk table, the task's header line in its log, the
// render, and a last line naming the frames and the exit code of a failure.
std::string jobScript(const ClusterJob &job);

// Where a run's job files go: the script and the log folder, beside the
// outputs, named after their file name less the frame number's '#'.
struct JobFiles {
    std::string script, logFolder, name;
};
JobFiles jobFiles(const FramePlan &plan, const std::string &sceneName);

// What one frame rendered here cost, to size the tasks.
struct FrameProbe {
    double seconds = 0.0; // rendered and written
    double peakMiB = -1.0;
};

// What keeps `options` from making a job (an option a job cannot take, a
// system that cannot submit); empty when nothing does. Checked before
// anything is planned or written.
std::string submitProblem(const Options &options);

// Submits `plan` (every frame of the run, before --skip-existing) as a job,
// or prints it with --dry-run. `probe` renders one frame of it and measures
// it; it is called only when the chunk size or the memory request need it.
// Returns the exit code.
int submitJob(const Options &options, const FramePlan &plan, const std::string &sceneName,
              const std::function<FrameProbe(const FrameJob &)> &probe, std::ostream &out,
              std::ostream &err);

// Reports which frames of `plan` have no file yet, and for each what the
// scheduler and the task's log say (pending, running, failed and why,
// cancelled, never started), then the command that renders just those.
// Returns 0 when every frame is written, 1 otherwise.
int collectJob(const Options &options, const FramePlan &plan, const std::string &sceneName,
               std::ostream &out, std::ostream &err);

} // namespace veltrix_render
