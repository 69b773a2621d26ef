#include "platform/ProcessRunner.h"
#include "tests/sandbox/SandboxClient.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::sandbox::testing {
namespace {

using namespace std::chrono_literals;

/** corvane-sandbox as a child process with its standard output on a pipe; killed if the test leaves it running. */
class SandboxProcess {
public:
    explicit SandboxProcess(const std::filesystem::path& directory)
    {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
            execl(VANTREL_SANDBOX_PROGRAM, VANTREL_SANDBOX_PROGRAM, "--dir", directory.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeEnds[1]);
        m_output = pipeEnds[0];
    }

    ~SandboxProcess()
    {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_output >= 0) {
            close(m_output);
        }
    }

    /** Standard output up to the first line break, waiting at most deadline. */
    std::string firstLine(std::chrono::milliseconds deadline)
    {
        std::string line;
        const auto stopAt = std::chrono::steady_clock::now() + deadline;
        while (line.find('\n') == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(stopAt - std::chrono::steady_clock::now());
            pollfd readable {m_output, POLLIN, 0};
            if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[256];
            const ssize_t size = read(m_output, buffer, sizeof buffer);
            if (size <= 0) {
                break;
            }
            line.append(buffer, static_cast<std::size_t>(size));
        }
        return line;
    }

    /** Sends the signal and returns the exit status, or -1 when the process did not exit normally in time. */
    int stop(int signal, std::chrono::milliseconds deadline)
    {
        kill(m_pid, signal);
        const auto stopAt = std::chrono::steady_clock::now() + deadline;
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= stopAt) {
                return -1;
            }
            std::this_thread::sleep_for(5ms); // polling the child with a deadline
        }
        m_exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t m_pid = -1;
    int m_output = -1;
    bool m_exited = false;
};

std::map<std::string, std::string> readEnvironmentFile(const std::filesystem::path& file)
{
    std::map<std::string, std::string> variables;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        constexpr std::string_view kExport = "export ";
        const auto equals = line.find('=');
        if (line.rfind(kExport, 0) != 0 || equals == std::string::npos) {
            ADD_FAILURE() << "not an export line: " << line;
            continue;
        }
        variables[line.substr(kExport.size(), equals - kExport.size())] = line.substr(equals + 1);
    }
    return variables;
}

TEST(SandboxProgram, PrintsReadyWritesEnvServesAndStopsOnSigterm)
{
    vantrel::testing::TempDirectory directory;
    SandboxProcess process(directory.path() / "run");
    ASSERT_EQ(process.firstLine(20s), "ready\n");

    const auto variables = readEnvironmentFile(directory.path() / "run" / "env");
    ASSERT_EQ(variables.size(), 8U);
    EXPECT_EQ(variables.at("VANTREL_CA_FILE"), (directory.path() / "run" / "ca.pem").string());
    EXPECT_TRUE(std::filesystem::exists(variables.at("VANTREL_CA_FILE")));
    for (const char* name : {"VANTREL_SERVICE_URL", "VANTREL_WEB_URL", "VANTREL_RPC_URL", "VANTREL_RELEASE_URL",
                             "VANTREL_SANDBOX_CONTROL_URL"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(variables.at(name).rfind("https://127.0.0.1:", 0), 0U);
        EXPECT_EQ(variables.at(name).back(), '/');
    }
    EXPECT_EQ(variables.at("VANTREL_RELAY_URL").rfind("wss://127.0.0.1:", 0), 0U);
    EXPECT_EQ(variables.at("VANTREL_RELAY_URL").substr(variables.at("VANTREL_RELAY_URL").size() - 5), "/m2m/");
    EXPECT_EQ(variables.at("VANTREL_ANALYTICS_URL").substr(variables.at("VANTREL_ANALYTICS_URL").size() - 7),
              "/events");

    const UrlParts service = UrlParts::of(variables.at("VANTREL_SERVICE_URL"));
    HttpsClient http(variables.at("VANTREL_CA_FILE"), service.port);
    const Answer answer =
        http.post(service.target + "auth/", {{"email", "demo@corvane.test"}, {"password", "demo-password"}});
    EXPECT_EQ(answer.status, 200);

    EXPECT_EQ(process.stop(SIGTERM, 10s), 0);
}

TEST(SandboxProgram, RefusesMissingArgumentsAndBrokenFixtures)
{
    vantrel::testing::TempDirectory directory;
    const auto noDirectory = platform::runProcess(VANTREL_SANDBOX_PROGRAM, {});
    ASSERT_TRUE(noDirectory);
    EXPECT_EQ(noDirectory->exitStatus, 2);

    std::ofstream(directory / "broken.json") << R"({"accounts": "none"})";
    const auto broken =
        platform::runProcess(VANTREL_SANDBOX_PROGRAM,
                             {"--dir", directory.path().string(), "--fixture", (directory / "broken.json").string()});
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->exitStatus, 1);
    EXPECT_EQ(broken->standardOutput, "");
}

} // namespace
} // namespace vantrel::sandbox::testing
