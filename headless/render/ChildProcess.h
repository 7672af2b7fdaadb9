// Running another program (the cluster's sbatch, squeue, sacct) and reading
// what it prints. The arguments go to the program as they are, through no
// shell, so nothing in them is interpreted.
//
// Thread safety: each call is independent; the child inherits the
// environment and the working folder.
#pragma once

#include <string>
#include <vector>

namespace veltrix_render {

struct ProcessResult {
    bool started = false; // false: the program could not be run (see `error`)
    int exitCode = -1;    // its exit status; 128 + the signal's number if a signal ended it
    std::string out, err; // what it wrote to stdout and stderr
    std::string error;    // why it could not be run
};

// Runs `argv` (argv[0] is looked up in PATH) and waits for it; stdin is
// /dev/null. On Windows no program is run: `error` says so.
ProcessResult runProcess(const std::vector<std::string> &argv);

// Whether runProcess can run programs on this system.
bool canRunProcesses();

} // namespace veltrix_render
