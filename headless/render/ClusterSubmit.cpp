#include "headless/render/ClusterSubmit.h"

#include "headless/render/ChildProcess.h"
#include "headless/render/ImageIO.h"
#include "headless/render/Progress.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#ifdef __linux__
#include <unistd.h>
#endif

namespace veltrix_render {

namespace fs = std::filesystem;

namespace {

constexpr const char *kProgram = "veltrix-render: ";

// The first line of every task's log; collectJob reads the frames back from it.
constexpr const char *kHeaderTask = " task ";
constexpr const char *kHeaderFrames = ": frames ";

// "A-BxN" for a run of `count` frames from `first` with `step`.
std::string runText(long first, long step, std::size_t count) {
    if (count == 1) return std::to_string(first);
    const long last = first + step * long(count - 1);
    std::string text = std::to_string(first) + "-" + std::to_string(last);
    if (step != 1) text += "x" + std::to_string(step);
    return text;
}

// Text a comment line can hold: control characters (a newline would end the
// comment and start a command) shown as '?'.
std::string commentSafe(const std::string &text) {
    std::string safe = text;
    for (char &c : safe)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return safe;
}

std::string quotedLine(const std::vector<std::string> &words) {
    std::string line;
    for (const std::string &word : words) line += (line.empty() ? "" : " ") + shellQuote(word);
    return line;
}

} // namespace

std::string frameListText(const std::vector<long> &frames) {
    std::string text;
    for (std::size_t i = 0; i < frames.size();) {
        // The longest run of one step from frames[i]; a pair of frames only
        // makes a run of step 1 ("4-5"), others stay "4,7".
        std::size_t count = 1;
        long step = 1;
        if (i + 1 < frames.size() && frames[i + 1] > frames[i]) {
            step = frames[i + 1] - frames[i];
            count = 2;
            while (i + count < frames.size() && frames[i + count] - frames[i + count - 1] == step)
                ++count;
            if (count == 2 && step != 1) count = 1;
        }
        text += (text.empty() ? "" : ",") + runText(frames[i], step, count);
        i += count;
    }
    return text;
}

std::vector<std::vector<long>> splitIntoChunks(const std::vector<long> &frames, long chunk) {
    const std::size_t size = std::size_t(std::max(1L, chunk));
    std::vector<std::vector<long>> chunks;
    for (std::size_t i = 0; i < frames.size(); i += size)
        chunks.emplace_back(frames.begin() + long(i),
                            frames.begin() + long(std::min(frames.size(), i + size)));
    return chunks;
}

long chunkForSeconds(double secondsPerFrame, std::size_t frames) {
    const long all = long(std::max<std::size_t>(frames, 1));
    if (!(secondsPerFrame > 0.0)) return all;
    const double fit = std::floor(kTaskSeconds / secondsPerFrame);
    return fit >= double(all) ? all : std::max(1L, long(fit));
}

long memoryRequestMiB(double peakMiB) {
    if (!(peakMiB > 0.0) || !std::isfinite(peakMiB)) return 0;
    return long(std::ceil(peakMiB * 1.5 / 64.0)) * 64;
}

std::string shellQuote(const std::string &text) {
    // Plain words stay as they are, so that the lines printed read easily.
    const bool plain = !text.empty() &&
                       text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                              "0123456789_./=:,+@%-") == std::string::npos;
    if (plain) return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string arrayList(const std::vector<std::size_t> &tasks) {
    std::vector<long> numbers(tasks.begin(), tasks.end());
    std::string text;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t count = 1;
        while (i + count < numbers.size() && numbers[i + count] == numbers[i + count - 1] + 1) ++count;
        text += (text.empty() ? "" : ",") + runText(numbers[i], 1, count);
        i += count;
    }
    return text;
}

bool asksForMemory(const std::vector<std::string> &sbatchArgs) {
    return std::any_of(sbatchArgs.begin(), sbatchArgs.end(), [](const std::string &arg) {
        for (const char *name : {"--mem", "--mem-per-cpu", "--mem-per-gpu"}) {
            const std::string n = name;
            if (arg == n || arg.rfind(n + "=", 0) == 0) return true;
        }
        return false;
    });
}

std::string logPattern(const ClusterJob &job) {
    // sbatch reads '%' as the start of a replacement; "%%" is a plain one.
    std::string folder;
    for (char c : job.logFolder) folder += c == '%' ? std::string("%%") : std::string(1, c);
    return (fs::path(folder) / "%A_%a.log").string();
}

std::vector<std::string> sbatchArguments(const ClusterJob &job) {
    std::vector<std::string> args{"--parsable", "--job-name=" + job.name,
                                  "--array=" + arrayList(job.tasks), "--output=" + logPattern(job)};
    if (job.memoryMiB > 0) args.push_back("--mem=" + std::to_string(job.memoryMiB) + "M");
    if (job.cpusPerTask > 0) args.push_back("--cpus-per-task=" + std::to_string(job.cpusPerTask));
    if (!job.partition.empty()) args.push_back("--partition=" + job.partition);
    args.insert(args.end(), job.extraArgs.begin(), job.extraArgs.end());
    args.push_back(job.script);
    return args;
}

std::string jobScript(const ClusterJob &job) {
    std::ostringstream s;
    std::vector<std::string> submitted{"sbatch"};
    for (const std::string &arg : sbatchArguments(job)) submitted.push_back(arg);
    s << "#!/bin/sh\n"
      << "# veltrix-render job: " << commentSafe(job.scene) << " in " << job.chunks.size()
      << (job.chunks.size() == 1 ? " chunk" : " chunks")
      << " of frames; array task i renders chunk i (below).\n"
      << "# Written by veltrix-render --submit slurm and submitted as\n"
      << "#   " << commentSafe(quotedLine(submitted)) << "\n"
      << "# Each task runs the same command with the frames of its chunk; one that\n"
      << "# fails exits with veltrix-render's code, its log saying which frames and why.\n"
      << "case \"${SLURM_ARRAY_TASK_ID:-}\" in\n";
    for (std::size_t i = 0; i < job.chunks.size(); ++i)
        s << i << ") frames=" << shellQuote(job.chunks[i]) << " ;;\n";
    s << "*) echo \"veltrix-render job: no chunk for array task '${SLURM_ARRAY_TASK_ID:-}' "
         "(this script has tasks 0 to "
      << job.chunks.size() - 1 << ")\" >&2\n   exit 2 ;;\nesac\n"
      << "task=\"job ${SLURM_ARRAY_JOB_ID:-?}" << kHeaderTask << "${SLURM_ARRAY_TASK_ID}\"\n"
      << "echo \"veltrix-render $task" << kHeaderFrames << "$frames on $(uname -n)\"\n"
      << "# A cancelled or timed-out task is sent SIGTERM: veltrix-render finishes the\n"
      << "# frame it is writing and stops; the shell then says so below.\n"
      << "trap 'echo \"veltrix-render $task: stopped by SIGTERM (cancelled, or out of time)\" >&2' "
         "TERM\n"
      << "cd " << shellQuote(job.workFolder) << " || exit 2\n"
      << quotedLine(job.command) << " \"--frames=$frames\"\n"
      << "status=$?\n"
      << "if [ \"$status\" -ne 0 ]; then\n"
      << "  echo \"veltrix-render $task: frames $frames failed with exit code $status (the lines "
         "above say which frame and why)\" >&2\n"
      << "else\n"
      << "  echo \"veltrix-render $task: frames $frames done\"\n"
      << "fi\n"
      << "exit \"$status\"\n";
    return s.str();
}

JobFiles jobFiles(const FramePlan &plan, const std::string &sceneName) {
    const fs::path pattern = plan.pattern.empty() ? fs::path("out/x") : fs::path(plan.pattern);
    // The output's name without its frame number: "shot_####.exr" -> "shot".
    std::string name = pattern.stem().string();
    name.erase(std::remove(name.begin(), name.end(), '#'), name.end());
    while (!name.empty() && std::string("_.- ").find(name.back()) != std::string::npos) name.pop_back();
    if (name.empty()) name = sceneName;
    const fs::path folder = pattern.parent_path();
    JobFiles files;
    files.script = (folder / (name + ".slurm.sh")).string();
    files.logFolder = (folder / (name + ".slurm-logs")).string();
    // Queue names are shown in narrow columns and read by other tools: plain characters.
    files.name = "veltrix-" + name;
    for (char &c : files.name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
    return files;
}

namespace {

// ---- submitting ----------------------------------------------------------------------

// This program, as the tasks start it.
std::string thisProgram() {
#ifdef __linux__
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.string();
#endif
    return "veltrix-render";
}

// The options a task passes on unchanged: all but those that choose frames or
// shape the job. The output and the plug-in are named below as the run
// planned them: without -o a single frame's default name differs from a
// range's, and the plug-in is the one this run loaded.
bool taskKeeps(const std::string &name) {
    static const std::set<std::string> left{"--frame", "--frames", "--time", "--submit",
                                            "--chunk", "--partition", "--slurm-arg", "--dry-run",
                                            "--collect", "--plugin", "--stats-json", "--output"};
    return left.count(name) == 0;
}

std::vector<std::string> taskCommand(const Options &options, const FramePlan &plan) {
    std::vector<std::string> command{thisProgram()};
    for (const std::string &arg : optionArguments(options, taskKeeps)) command.push_back(arg);
    command.push_back("--output=" + plan.pattern);
    command.push_back("--plugin=" + fs::absolute(pluginPath(options)).string());
    return command;
}

// The chunks of `plan` and which of them still have a frame to render.
void planChunks(const Options &options, const FramePlan &plan, long chunk, ClusterJob &job) {
    std::vector<long> numbers;
    for (const FrameJob &frame : plan.frames) numbers.push_back(frame.number);
    std::size_t index = 0;
    for (const std::vector<long> &frames : splitIntoChunks(numbers, chunk)) {
        bool missing = !options.skipExisting;
        for (std::size_t i = 0; i < frames.size() && !missing; ++i)
            missing = !outputWritten(plan.frames[index + i].output);
        if (missing) job.tasks.push_back(job.chunks.size());
        job.chunks.push_back(frameListText(frames));
        index += frames.size();
    }
}

// The first frame a task will render: the one to measure.
const FrameJob &firstToRender(const ClusterJob &job, const FramePlan &plan, long chunk) {
    return plan.frames[job.tasks.front() * std::size_t(chunk)];
}

bool writeScript(const ClusterJob &job, std::ostream &err) {
    std::error_code ec;
    fs::create_directories(job.logFolder, ec);
    if (ec) {
        err << kProgram << "cannot make the log folder " << job.logFolder << ": " << ec.message()
            << "\n";
        return false;
    }
    std::string error;
    const bool written = replaceFile(job.script, [&](const std::string &temporary, std::string &why) {
        std::ofstream file(temporary, std::ios::binary);
        if (!(file << jobScript(job)).flush()) why = "the disk refused the text";
        return bool(file);
    }, error);
    if (!written) err << kProgram << "cannot write " << job.script << ": " << error << "\n";
    return written;
}

void printFollowUp(const std::string &id, const ClusterJob &job, const Options &options,
                   std::ostream &out) {
    std::vector<std::string> collect{"veltrix-render"};
    for (const std::string &arg : optionArguments(options, [](const std::string &name) {
             return name != "--submit" && name != "--dry-run";
         }))
        collect.push_back(arg);
    collect.push_back("--collect=" + id);
    out << "follow it:     squeue -r -j " << id << "\n"
        << "when it ends:  sacct -X -j " << id << " --format=JobID,State,ExitCode,Elapsed\n"
        << "task logs:     " << job.logFolder << "/" << id << "_<task>.log\n"
        << "what is missing, and why:\n  " << quotedLine(collect) << "\n";
}

} // namespace

std::string submitProblem(const Options &options) {
    if (!canRunProcesses() && !options.dryRun)
        return "--submit " + options.submit + ": submitting jobs is not supported on this system; "
               "--dry-run prints the job script to submit elsewhere";
    if (options.timeGiven)
        return "--time: not with --submit (a task renders whole frames); name the frame with "
               "--frame or --frames";
    if (!options.statsJson.empty())
        return "--stats-json: not with --submit (every task would write the one file); --stats "
               "puts each frame's figures in the task's log";
    return {};
}

int submitJob(const Options &options, const FramePlan &plan, const std::string &sceneName,
              const std::function<FrameProbe(const FrameJob &)> &probe, std::ostream &out,
              std::ostream &err) {
    const JobFiles files = jobFiles(plan, sceneName);
    ClusterJob job;
    job.name = files.name;
    job.scene = options.scene;
    job.script = fs::absolute(files.script).string();
    job.logFolder = fs::absolute(files.logFolder).string();
    job.workFolder = fs::current_path().string();
    job.command = taskCommand(options, plan);
    job.partition = options.partition;
    job.extraArgs = options.slurmArgs;
    job.cpusPerTask = options.threads;

    const bool memoryGiven = asksForMemory(options.slurmArgs);
    // Chunks first with the size given (or one task per frame to find the
    // first frame left to render), then measured where needed.
    long chunk = options.chunk > 0 ? options.chunk : 1;
    planChunks(options, plan, chunk, job);
    if (job.tasks.empty()) {
        err << kProgram << "--skip-existing: every frame already has its file; nothing to submit\n";
        return kExitOk;
    }
    if (options.chunk == 0 || !memoryGiven) {
        const FrameJob &measured = firstToRender(job, plan, chunk);
        if (!options.quiet)
            err << kProgram << "rendering frame " << measured.number << " here to size the tasks\n";
        const FrameProbe cost = probe(measured);
        if (!options.quiet)
            err << kProgram << "frame " << measured.number << ": " << formatSeconds(cost.seconds)
                << ", peak " << std::lround(cost.peakMiB) << " MiB\n";
        if (!memoryGiven) job.memoryMiB = memoryRequestMiB(cost.peakMiB);
        if (options.chunk == 0) {
            chunk = chunkForSeconds(cost.seconds, plan.frames.size());
            job.chunks.clear();
            job.tasks.clear();
            planChunks(options, plan, chunk, job);
        }
    }
    if (options.dryRun) {
        out << jobScript(job) << "# not submitted (--dry-run); to submit:\n#   sbatch "
            << commentSafe(quotedLine(sbatchArguments(job))) << "\n";
        return kExitOk;
    }
    if (!writeScript(job, err)) return kExitFailed;
    std::vector<std::string> command{"sbatch"};
    for (const std::string &arg : sbatchArguments(job)) command.push_back(arg);
    const ProcessResult sbatch = runProcess(command);
    if (!sbatch.started || sbatch.exitCode != 0) {
        err << kProgram << "sbatch did not take the job ("
            << (sbatch.started ? "exit code " + std::to_string(sbatch.exitCode) : sbatch.error)
            << ")" << (sbatch.err.empty() ? "\n" : "; it said:\n" + sbatch.err)
            << "the job script is " << job.script << "\n";
        return kExitFailed;
    }
    // --parsable: "ID" or "ID;CLUSTER".
    const std::string id = sbatch.out.substr(0, sbatch.out.find_first_of(";\n"));
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        err << kProgram << "sbatch printed no job id (it said \"" << commentSafe(sbatch.out)
            << "\"); squeue shows whether the job is queued\n";
        return kExitFailed;
    }
    out << "submitted job " << id << ": " << job.tasks.size() << " of " << job.chunks.size()
        << " tasks of up to " << chunk << " frames (" << plan.frames.size() << " frames in all)";
    if (job.memoryMiB > 0) out << ", " << job.memoryMiB << " MiB each";
    out << "\njob script:    " << job.script << "\n";
    printFollowUp(id, job, options, out);
    return kExitOk;
}

namespace {

// ---- collecting ----------------------------------------------------------------------

struct TaskRecord {
    std::vector<long> frames;
    std::string state;           // from the scheduler, or read from the log
    std::string log;             // its path, when there is one
    std::vector<std::string> why; // the log's last messages
};

std::vector<long> expandList(const std::string &text) {
    std::vector<FrameSpan> spans;
    std::string error;
    std::vector<long> frames;
    if (!parseFrameList(text, spans, error)) return frames;
    for (const FrameSpan &span : spans)
        for (long n = span.first; n <= span.last; n += span.step) frames.push_back(n);
    return frames;
}

// What a task's log says: its frames (the first line) and its last messages.
void readLog(const fs::path &path, TaskRecord &task) {
    std::ifstream log(path);
    task.log = path.string();
    bool failed = false, stopped = false, done = false;
    for (std::string line; std::getline(log, line);) {
        const std::size_t frames = line.find(kHeaderFrames);
        if (line.rfind("veltrix-render job ", 0) == 0 && frames != std::string::npos &&
            task.frames.empty()) {
            const std::string rest = line.substr(frames + std::string(kHeaderFrames).size());
            task.frames = expandList(rest.substr(0, rest.find(' ')));
            continue;
        }
        // The program's messages but its opening line, the script's, the scheduler's errors.
        const bool message = (line.rfind(kProgram, 0) == 0 &&
                              line.rfind(std::string(kProgram) + "rendering ", 0) != 0) ||
                             line.rfind("veltrix-render job", 0) == 0 ||
                             line.find("slurmstepd: error:") != std::string::npos;
        if (!message) continue;
        done = done || (line.size() > 5 && line.compare(line.size() - 5, 5, " done") == 0);
        task.why.push_back(line);
        failed = failed || line.find("failed with exit code") != std::string::npos;
        stopped = stopped || line.find("CANCELLED") != std::string::npos ||
                  line.find("stopped by SIGTERM") != std::string::npos;
    }
    if (task.why.size() > 3) task.why.erase(task.why.begin(), task.why.end() - 3);
    if (task.state.empty())
        task.state = stopped ? "CANCELLED" : failed ? "FAILED" : done ? "COMPLETED" : "";
}

// The chunk table of the job script, for tasks that have no log yet.
std::map<std::size_t, std::vector<long>> scriptChunks(const std::string &script) {
    std::map<std::size_t, std::vector<long>> chunks;
    std::ifstream file(script);
    for (std::string line; std::getline(file, line);) {
        const std::size_t paren = line.find(") frames="), end = line.rfind(" ;;");
        if (paren == std::string::npos || paren == 0 || end == std::string::npos ||
            line.find_first_not_of("0123456789") != paren)
            continue;
        std::string list = line.substr(paren + 9, end - paren - 9); // frame lists need no quotes,
        list.erase(std::remove(list.begin(), list.end(), '\''), list.end()); // but may have them
        chunks[std::stoul(line.substr(0, paren))] = expandList(list);
    }
    return chunks;
}

// "TASK STATE" lines of squeue, "JOB_TASK|STATE|EXIT" lines of sacct.
void readQueue(const std::string &id, std::map<std::size_t, TaskRecord> &tasks) {
    const ProcessResult sacct =
        runProcess({"sacct", "-n", "-P", "-X", "-j", id, "--format=JobID,State,ExitCode"});
    if (sacct.started && sacct.exitCode == 0) {
        std::istringstream lines(sacct.out);
        for (std::string line; std::getline(lines, line);) {
            const std::size_t under = line.find('_'), bar = line.find('|');
            if (under == std::string::npos || bar == std::string::npos || under > bar) continue;
            const std::string index = line.substr(under + 1, bar - under - 1);
            if (index.empty() || index.find_first_not_of("0123456789") != std::string::npos) continue;
            std::string state = line.substr(bar + 1);
            std::replace(state.begin(), state.end(), '|', ' ');
            tasks[std::stoul(index)].state = state;
        }
    }
    // The scheduler's own record last (it keeps ended tasks for a while): the
    // newest word on each task.
    const ProcessResult squeue = runProcess({"squeue", "-h", "-r", "-t", "all", "-j", id, "-o", "%K %T"});
    if (!squeue.started || squeue.exitCode != 0) return;
    std::istringstream lines(squeue.out);
    std::string index, state;
    while (lines >> index >> state)
        if (index.find_first_not_of("0123456789") == std::string::npos)
            tasks[std::stoul(index)].state = state;
}

std::map<std::size_t, TaskRecord> jobTasks(const std::string &id, const JobFiles &files) {
    std::map<std::size_t, TaskRecord> tasks;
    readQueue(id, tasks);
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(files.logFolder, ec)) {
        const std::string name = entry.path().filename().string();
        const std::string prefix = id + "_";
        if (name.rfind(prefix, 0) != 0 || entry.path().extension() != ".log") continue;
        const std::string index = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (index.empty() || index.find_first_not_of("0123456789") != std::string::npos) continue;
        readLog(entry.path(), tasks[std::stoul(index)]);
    }
    // Tasks with no log take their frames from the script, which also names
    // those the scheduler no longer lists (a task cancelled while pending).
    for (auto &[index, frames] : scriptChunks(files.script))
        if (tasks[index].frames.empty()) tasks[index].frames = frames;
    return tasks;
}

void printMissing(const std::vector<long> &frames, const TaskRecord *task, std::size_t index,
                  std::ostream &out) {
    out << "  frames " << frameListText(frames) << ": ";
    if (!task) {
        out << "no task of this job rendered them (no log, not in the queue)\n";
        return;
    }
    if (task->state.empty() && task->log.empty()) {
        out << "task " << index << " has no log and the scheduler no longer lists it: it never "
            << "ran (cancelled while pending?)\n";
        return;
    }
    out << "task " << index << ", " << (task->state.empty() ? "ended" : task->state);
    if (task->log.empty()) {
        out << " (no log yet)\n";
        return;
    }
    out << "; " << task->log << (task->why.empty() ? " says nothing more\n" : ":\n");
    for (const std::string &line : task->why) out << "      " << line << "\n";
}

} // namespace

int collectJob(const Options &options, const FramePlan &plan, const std::string &sceneName,
               std::ostream &out, std::ostream &err) {
    if (!canRunProcesses()) {
        err << kProgram << "--collect: asking the scheduler is not supported on this system\n";
        return kExitBadInput;
    }
    const std::string &id = options.collect;
    std::vector<long> missing;
    for (const FrameJob &frame : plan.frames)
        if (!outputWritten(frame.output)) missing.push_back(frame.number);
    out << "job " << id << ": " << plan.frames.size() - missing.size() << " of "
        << plan.frames.size() << " frames written";
    if (missing.empty()) {
        out << "\n";
        return kExitOk;
    }
    out << ", " << missing.size() << " missing\n";
    const JobFiles files = jobFiles(plan, sceneName);
    const std::map<std::size_t, TaskRecord> tasks = jobTasks(id, files);
    // Missing frames grouped by the task that had them, in frame order.
    std::vector<std::pair<const TaskRecord *, std::size_t>> owners;
    std::vector<std::vector<long>> groups;
    for (long frame : missing) {
        std::pair<const TaskRecord *, std::size_t> owner{nullptr, 0};
        for (const auto &[index, task] : tasks)
            if (std::find(task.frames.begin(), task.frames.end(), frame) != task.frames.end())
                owner = {&task, index};
        if (owners.empty() || owners.back() != owner) {
            owners.push_back(owner);
            groups.emplace_back();
        }
        groups.back().push_back(frame);
    }
    for (std::size_t i = 0; i < groups.size(); ++i)
        printMissing(groups[i], owners[i].first, owners[i].second, out);
    std::vector<std::string> again{"veltrix-render"};
    for (const std::string &arg : optionArguments(options, [](const std::string &name) {
             return name != "--collect" && name != "--skip-existing" && name != "--dry-run";
         }))
        again.push_back(arg);
    for (const char *arg : {"--submit=slurm", "--skip-existing"}) again.push_back(arg);
    out << "to render just these (tasks whose frames are all written are left out):\n  "
        << quotedLine(again) << "\n";
    err << kProgram << "job " << id << ": " << missing.size() << " frames missing\n";
    return kExitFailed;
}

} // namespace veltrix_render
