// Cluster jobs without a cluster: frame chunks and their lists, the job
// script run by a real shell (quoting, task selection, failures), the task
// command line parsing back into the user's options, sbatch's arguments, and
// --collect over task logs with stand-ins for squeue and sacct. The run on a
// real Slurm cluster is tests/cluster/slurm_job_test.sh.
#include "RenderTestSupport.h"

#include "headless/render/ClusterSubmit.h"
#include "headless/render/Options.h"

#include <cstdlib>
#include <sstream>

namespace {

using namespace veltrix_render;
using render_test::ScratchDir;
namespace fs = std::filesystem;

std::vector<long> expand(const std::string &list) {
    std::vector<FrameSpan> spans;
    std::string error;
    EXPECT_TRUE(parseFrameList(list, spans, error)) << list << ": " << error;
    std::vector<long> frames;
    for (const FrameSpan &s : spans)
        for (long n = s.first; n <= s.last; n += s.step) frames.push_back(n);
    return frames;
}

TEST(ClusterSubmit, ChunksAreConsecutiveAndTheirListsReadBackExactly) {
    const std::vector<std::pair<std::vector<long>, std::string>> lists = {
        {{0, 1, 2, 3}, "0-3"},
        {{5}, "5"},
        {{4, 7}, "4,7"},
        {{4, 5}, "4-5"},
        {{1001, 1005, 1009, 1013, 1200}, "1001-1013x4,1200"},
        {{9, 3, 4, 5}, "9,3-5"},
    };
    for (const auto &[frames, text] : lists) {
        EXPECT_EQ(frameListText(frames), text);
        EXPECT_EQ(expand(frameListText(frames)), frames);
    }
    // Every chunk size over a range with a step and a stray frame: the
    // chunks cover the frames in order, each once, all but the last full.
    std::vector<long> frames;
    for (long n = 1001; n <= 1100; n += 3) frames.push_back(n);
    frames.push_back(1500);
    for (long chunk = 1; chunk <= long(frames.size()) + 1; ++chunk) {
        std::vector<long> joined;
        const auto chunks = splitIntoChunks(frames, chunk);
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            if (i + 1 < chunks.size()) EXPECT_EQ(long(chunks[i].size()), chunk);
            for (long n : expand(frameListText(chunks[i]))) joined.push_back(n);
        }
        EXPECT_EQ(joined, frames) << "chunk " << chunk;
    }
}

TEST(ClusterSubmit, TasksAreSizedFromOneFrame) {
    EXPECT_EQ(chunkForSeconds(0.5, 24), 24);   // the whole range is under a minute
    EXPECT_EQ(chunkForSeconds(7.0, 24), 8);
    EXPECT_EQ(chunkForSeconds(90.0, 24), 1);   // a frame over a minute: one per task
    EXPECT_EQ(chunkForSeconds(0.0, 24), 24);
    EXPECT_EQ(chunkForSeconds(std::nan(""), 24), 24);
    EXPECT_EQ(memoryRequestMiB(126.4), 192);   // 1.5 times, whole 64 MiB
    EXPECT_EQ(memoryRequestMiB(1024.0), 1536);
    EXPECT_EQ(memoryRequestMiB(-1.0), 0);      // unknown: no request
    EXPECT_EQ(arrayList({0, 1, 2, 3}), "0-3");
    EXPECT_EQ(arrayList({1, 3, 4, 7}), "1,3-4,7");
}

// Runs `script` with sh in `folder` as array task `task`; stdout+stderr.
render_test::RunResult runScript(const std::string &script, const std::string &task,
                                 const fs::path &folder) {
    render_test::writeFile((folder / "job.sh").string(), script);
    const std::string command = "cd '" + folder.string() + "' && SLURM_ARRAY_JOB_ID=77 " +
                                "SLURM_ARRAY_TASK_ID=" + task + " sh job.sh >out.txt 2>&1";
    const int status = std::system(command.c_str());
    render_test::RunResult result;
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = render_test::readFile((folder / "out.txt").string());
    return result;
}

const char *const kAwkward[] = {"plain", "two words", "it's", "\"quoted\"", "$(touch pwned)",
                                "`touch pwned`", "a;b|c&d", "*", "#hash", "", "new\nline",
                                "back\\slash", "%A_%a"};

TEST(ClusterSubmit, TheJobScriptRunsEachTasksChunkWithEveryArgumentIntact) {
    ScratchDir dir;
    const fs::path work = dir.path() / "work folder 'x'";
    fs::create_directories(work);
    ClusterJob job;
    job.name = "veltrix-f";
    job.scene = "scene\ntouch pwned"; // a newline cannot escape the script's comment
    job.script = (dir.path() / "job.sh").string();
    job.logFolder = (dir.path() / "logs").string();
    job.workFolder = work.string();
    job.command = {"printf", "[%s]\\n"};
    for (const char *arg : kAwkward) job.command.push_back(arg);
    job.chunks = {"0-3", "4-7", "8-9"};
    job.tasks = {0, 1, 2};
    const std::string script = jobScript(job);

    std::string expected;
    for (const char *arg : kAwkward) expected += "[" + std::string(arg) + "]\n";
    const auto task1 = runScript(script, "1", dir.path());
    EXPECT_EQ(task1.code, 0) << task1.out;
    EXPECT_NE(task1.out.find("veltrix-render job 77 task 1: frames 4-7 on "), std::string::npos);
    EXPECT_NE(task1.out.find(expected + "[--frames=4-7]\n"), std::string::npos) << task1.out;
    EXPECT_NE(task1.out.find("task 1: frames 4-7 done"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.path() / "pwned"));
    EXPECT_FALSE(fs::exists(work / "pwned"));

    const auto unknown = runScript(script, "3", dir.path());
    EXPECT_EQ(unknown.code, 2);
    EXPECT_NE(unknown.out.find("no chunk for array task '3'"), std::string::npos) << unknown.out;

    job.command = {"sh", "-c", "echo veltrix-render: frame 9: the disk is full >&2; exit 1"};
    const auto failed = runScript(jobScript(job), "2", dir.path());
    EXPECT_EQ(failed.code, 1);
    EXPECT_NE(failed.out.find("frame 9: the disk is full\nveltrix-render job 77 task 2: frames "
                              "8-9 failed with exit code 1"),
              std::string::npos)
        << failed.out;
}

TEST(ClusterSubmit, SbatchGetsTheJobAsArgumentsAndTheUsersOwnLast) {
    ClusterJob job;
    job.name = "veltrix-f";
    job.script = "/shots/a b/f.slurm.sh";
    job.logFolder = "/shots/a b/100%/f.slurm-logs";
    job.chunks = {"0-3", "4-7", "8-11"};
    job.tasks = {0, 2};
    job.memoryMiB = 192;
    job.partition = "render";
    job.extraArgs = {"--time=01:00:00"};
    EXPECT_EQ(sbatchArguments(job),
              (std::vector<std::string>{"--parsable", "--job-name=veltrix-f", "--array=0,2",
                                        "--output=/shots/a b/100%%/f.slurm-logs/%A_%a.log",
                                        "--mem=192M", "--partition=render", "--time=01:00:00",
                                        "/shots/a b/f.slurm.sh"}));
    EXPECT_TRUE(asksForMemory({"--qos=x", "--mem=8G"}));
    EXPECT_TRUE(asksForMemory({"--mem-per-cpu=2G"}));
    EXPECT_FALSE(asksForMemory({"--memory-binding=none", "--time=1"}));
}

// The task's command line is the user's: parsed again it gives the same
// options, less the ones that shape the job.
TEST(ClusterSubmit, TheTaskCommandLineParsesBackIntoTheSameOptions) {
    const std::vector<std::string> given = {
        "veltrix-render", "-o", "out dir/f_####.exr", "--frames", "0-9",
        "--set", "Rotation Y=-90", "--set", "Key.intensity=40", "--depth", "16",
        "--downsample", "3", "--threads", "2", "--skip-existing", "--half", "--colorspace",
        "ACES - ACEScg", "--submit", "slurm", "--chunk", "4", "--slurm-arg=--mem=2G", "--", "-dash scene.json"};
    std::vector<const char *> argv;
    for (const std::string &a : given) argv.push_back(a.c_str());
    Options first;
    std::ostringstream out, err;
    ASSERT_FALSE(parseOptions(int(argv.size()), argv.data(), first, out, err).exit) << err.str();

    const auto keep = [](const std::string &name) {
        return name != "--submit" && name != "--chunk" && name != "--slurm-arg" && name != "--frames";
    };
    std::vector<std::string> again = optionArguments(first, keep);
    again.insert(again.begin(), "veltrix-render");
    argv.clear();
    for (const std::string &a : again) argv.push_back(a.c_str());
    Options second;
    ASSERT_FALSE(parseOptions(int(argv.size()), argv.data(), second, out, err).exit) << err.str();
    EXPECT_EQ(second.scene, "./-dash scene.json");
    EXPECT_EQ(second.output, first.output);
    EXPECT_EQ(second.sets, first.sets);
    EXPECT_EQ(second.depth, 16);
    EXPECT_EQ(second.downsample, 3);
    EXPECT_EQ(second.threads, 2);
    EXPECT_TRUE(second.skipExisting);
    EXPECT_TRUE(second.half);
    EXPECT_EQ(second.colorspace, "ACES - ACEScg");
    EXPECT_TRUE(second.submit.empty());
    EXPECT_EQ(second.chunk, 0);
    EXPECT_TRUE(second.slurmArgs.empty());
    EXPECT_FALSE(second.framesGiven);
}

// PATH holds stand-ins for the scheduler's commands while a test runs.
class FakeScheduler {
public:
    FakeScheduler(const fs::path &folder, const std::string &squeue, const std::string &sacct)
        : old_(std::getenv("PATH") ? std::getenv("PATH") : "") {
        fs::create_directories(folder);
        tool(folder / "squeue", squeue);
        tool(folder / "sacct", sacct);
        setenv("PATH", (folder.string() + ":" + old_).c_str(), 1);
    }
    ~FakeScheduler() { setenv("PATH", old_.c_str(), 1); }

private:
    static void tool(const fs::path &path, const std::string &output) {
        render_test::writeFile(path.string(), "#!/bin/sh\nprintf '" + output + "'\n");
        fs::permissions(path, fs::perms::owner_all);
    }
    std::string old_;
};

TEST(ClusterSubmit, CollectSaysWhichFramesAreMissingAndWhatEachTaskSaid) {
    ScratchDir dir;
    FramePlan plan;
    plan.pattern = (dir.path() / "f_#.png").string();
    for (long n = 0; n < 12; ++n)
        plan.frames.push_back({n, 0.0, (dir.path() / ("f_" + std::to_string(n) + ".png")).string()});
    for (long n : {0L, 1L, 2L, 3L, 9L}) render_test::writeFile(plan.frames[n].output, "png");
    fs::create_directories(plan.frames[10].output); // a folder is no frame
    const JobFiles files = jobFiles(plan, "scene");
    EXPECT_EQ(fs::path(files.script).filename(), "f.slurm.sh");
    fs::create_directories(files.logFolder);
    render_test::writeFile(files.script, "case x in\n0) frames=0-3 ;;\n1) frames=4-7 ;;\n"
                                         "2) frames='8-11' ;;\nesac\n");
    const fs::path logs = files.logFolder;
    render_test::writeFile((logs / "5_0.log").string(),
                           "veltrix-render job 5 task 0: frames 0-3 on n1\n"
                           "veltrix-render job 5 task 0: frames 0-3 done\n");
    render_test::writeFile((logs / "5_1.log").string(),
                           "veltrix-render job 5 task 1: frames 4-7 on n1\n"
                           "veltrix-render: rendering s.json, 4 frames\n"
                           "[1/4] frame 4 in 1 s\n"
                           "veltrix-render: frame 5: the effect's smart render failed\n"
                           "veltrix-render job 5 task 1: frames 4-7 failed with exit code 1\n");
    render_test::writeFile((logs / "4_2.log").string(), "an older job's log\n");
    // Task 2 is still running, which the queue says; sacct knows task 1.
    FakeScheduler scheduler(dir.path() / "bin", "2 RUNNING\\n", "5_1|FAILED|1:0\\n");

    Options options;
    options.scene = "s.json";
    options.collect = "5";
    std::ostringstream out, err;
    EXPECT_EQ(collectJob(options, plan, "scene", out, err), 1);
    const std::string report = out.str();
    EXPECT_NE(report.find("job 5: 5 of 12 frames written, 7 missing"), std::string::npos) << report;
    EXPECT_NE(report.find("frames 4-7: task 1, FAILED 1:0; "), std::string::npos) << report;
    EXPECT_NE(report.find("frame 5: the effect's smart render failed"), std::string::npos);
    EXPECT_EQ(report.find("rendering s.json"), std::string::npos) << report;
    EXPECT_NE(report.find("frames 8,10-11: task 2, RUNNING (no log yet)"), std::string::npos)
        << report;
    EXPECT_NE(report.find("--submit=slurm --skip-existing"), std::string::npos) << report;

    for (const FrameJob &frame : plan.frames) {
        fs::remove(frame.output);
        render_test::writeFile(frame.output, "png");
    }
    std::ostringstream done;
    EXPECT_EQ(collectJob(options, plan, "scene", done, err), 0);
    EXPECT_EQ(done.str(), "job 5: 12 of 12 frames written\n");
}

TEST(ClusterSubmit, DryRunPrintsTheJobAndWritesNothing) {
    ScratchDir dir;
    fs::copy(render_test::sourcePath("examples/default.json"), dir / "scene.json");
    fs::create_directories(dir.path() / "out");
    const std::string before = dir.listing();
    const auto result = render_test::runRenderer(
        "scene.json --frames 0-9 --downsample 8 -o 'out/f_####.png' --submit slurm --dry-run "
        "--chunk 4 --partition render '--slurm-arg=--time=00:10:00'",
        dir.path());
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("0) frames=0-3 ;;\n1) frames=4-7 ;;\n2) frames=8-9 ;;\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("--array=0-2"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("--mem="), std::string::npos) << result.out; // measured
    EXPECT_NE(result.out.find("--partition=render --time=00:10:00"), std::string::npos);
    EXPECT_NE(result.out.find(" --downsample=8 "), std::string::npos) << result.out;
    EXPECT_EQ(dir.listing(), before);
    EXPECT_TRUE(fs::is_empty(dir.path() / "out"));

    // One frame to the default output: the task names the file the plan chose
    // (a --frames run alone would pick out/scene_0003.png). With the chunk and
    // the memory given, nothing renders here.
    const auto single = render_test::runRenderer(
        "scene.json --frame 3 --submit slurm --dry-run --chunk 1 --slurm-arg=--mem=1G", dir.path());
    EXPECT_EQ(single.code, 0) << single.err;
    EXPECT_NE(single.out.find("0) frames=3 ;;"), std::string::npos) << single.out;
    EXPECT_NE(single.out.find(" --output=out/scene.png "), std::string::npos) << single.out;
    EXPECT_NE(single.out.find("/out/scene.slurm-logs/%A_%a.log "), std::string::npos) << single.out;
    EXPECT_EQ(single.out.find("--mem="), single.out.find("--mem=1G")); // the only request
    EXPECT_EQ(single.err.find("to size the tasks"), std::string::npos) << single.err;
    EXPECT_TRUE(fs::is_empty(dir.path() / "out"));
}

} // namespace
