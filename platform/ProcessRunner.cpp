#include "platform/ProcessRunner.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::platform {
namespace {

struct Pipe {
    int readEnd = -1;
    int writeEnd = -1;
    ~Pipe()
    {
        closeEnd(readEnd);
        closeEnd(writeEnd);
    }
    static void closeEnd(int& fd)
    {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
};

std::string drain(int fd)
{
    std::string output;
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return output;
        }
        output.append(chunk, static_cast<std::size_t>(count));
    }
}

int waitForExit(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::optional<ProcessOutcome> runProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    Pipe output;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    output.readEnd = ends[0];
    output.writeEnd = ends[1];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output.writeEnd, STDOUT_FILENO);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    const int spawnError = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        return std::nullopt;
    }
    Pipe::closeEnd(output.writeEnd);
    ProcessOutcome outcome;
    outcome.standardOutput = drain(output.readEnd);
    outcome.exitStatus = waitForExit(child);
    return outcome;
}

} // namespace vantrel::platform
