#include "headless/render/ChildProcess.h"

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

namespace veltrix_render {

#ifdef _WIN32

bool canRunProcesses() { return false; }

ProcessResult runProcess(const std::vector<std::string> &argv) {
    ProcessResult result;
    result.error = "running " + (argv.empty() ? std::string("a program") : argv[0]) +
                   " is not supported on Windows";
    return result;
}

#else

namespace {

// Pipes closed on every exit path.
struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) close(f);
    }
    void closeEnd(int end) {
        if (fd[end] >= 0) close(fd[end]);
        fd[end] = -1;
    }
};

// Reads both pipes until the child closes them, so neither fills and stalls it.
void drain(Pipe &out, Pipe &err, ProcessResult &result) {
    pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    std::string *texts[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, std::size_t(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

} // namespace

bool canRunProcesses() { return true; }

ProcessResult runProcess(const std::vector<std::string> &argv) {
    ProcessResult result;
    if (argv.empty()) {
        result.error = "no program named";
        return result;
    }
    Pipe out, err;
    if (pipe2(out.fd, O_CLOEXEC) != 0 || pipe2(err.fd, O_CLOEXEC) != 0) {
        result.error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        result.error = "cannot run " + argv[0] + ": " + std::strerror(spawned);
        return result;
    }
    out.closeEnd(1);
    err.closeEnd(1);
    drain(out, err, result);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.started = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

#endif

} // namespace veltrix_render
