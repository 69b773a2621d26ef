#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::testing {
namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& additions)
{
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view current(*entry);
        const auto name = current.substr(0, current.find('='));
        bool replaced = false;
        for (const std::string& addition : additions) {
            replaced = replaced || addition.compare(0, name.size() + 1, std::string(name) + "=") == 0;
        }
        if (!replaced) {
            merged.emplace_back(current);
        }
    }
    merged.insert(merged.end(), additions.begin(), additions.end());
    return merged;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment)
{
    int output[2];
    int error[2];
    if (::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(error, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, error[1], STDERR_FILENO);

    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp = mergedEnvironment(environment);
    auto argvPointers = pointersTo(argv);
    auto envPointers = pointersTo(envp);
    const int spawnError = ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argvPointers.data(),
                                         envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    ::close(error[1]);
    if (spawnError != 0) {
        ::close(output[0]);
        ::close(error[0]);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawnError));
    }
    m_reader = std::thread([this, outputFd = output[0], errorFd = error[0]] { readOutput(outputFd, errorFd); });
}

ChildProcess::~ChildProcess()
{
    terminate();
    if (m_reader.joinable()) {
        m_reader.join();
    }
}

void ChildProcess::readOutput(int outputFd, int errorFd)
{
    pollfd fds[2] = {{outputFd, POLLIN, 0}, {errorFd, POLLIN, 0}};
    int open = 2;
    char chunk[8192];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || fd.revents == 0) {
                continue;
            }
            const ssize_t count = ::read(fd.fd, chunk, sizeof chunk);
            if (count <= 0) {
                ::close(fd.fd);
                fd.fd = -1;
                --open;
                continue;
            }
            std::lock_guard lock(m_mutex);
            (fd.fd == outputFd ? m_output : m_error).append(chunk, static_cast<std::size_t>(count));
            m_changed.notify_all();
        }
    }
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

bool ChildProcess::waitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, deadline, [&] { return condition() || m_closed; }) && condition();
}

bool ChildProcess::waitForLine(std::string_view line, std::chrono::milliseconds deadline)
{
    const std::string wanted = std::string(line) + "\n";
    return waitFor(
        [&] { return m_output.rfind(wanted, 0) == 0 || m_output.find("\n" + wanted) != std::string::npos; },
        deadline);
}

bool ChildProcess::waitForError(std::string_view text, std::chrono::milliseconds deadline)
{
    return waitFor([&] { return m_error.find(text) != std::string::npos; }, deadline);
}

std::string ChildProcess::standardError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::string ChildProcess::standardOutput() const
{
    std::lock_guard lock(m_mutex);
    return m_output;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds deadline)
{
    if (m_exitStatus) {
        return m_exitStatus;
    }
    const auto stopAt = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return m_exitStatus;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= stopAt) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int ChildProcess::terminate(std::chrono::milliseconds grace)
{
    if (!m_exitStatus) {
        ::kill(m_pid, SIGTERM);
        if (!waitForExit(grace)) {
            ::kill(m_pid, SIGKILL);
            waitForExit(std::chrono::seconds(10));
        }
    }
    return m_exitStatus.value_or(-1);
}

} // namespace vantrel::testing
