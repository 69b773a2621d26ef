#include "platform/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::platform {
namespace {

std::error_code lastError()
{
    return {errno, std::generic_category()};
}

class PosixFileSteps final : public FileSteps {
public:
    int createUnique(std::string& pathTemplate, std::error_code& error) override
    {
        const int fd = ::mkostemp(pathTemplate.data(), O_CLOEXEC);
        error = fd < 0 ? lastError() : std::error_code();
        return fd;
    }

    std::error_code writeAll(int fd, std::string_view content) override
    {
        while (!content.empty()) {
            const ssize_t written = ::write(fd, content.data(), content.size());
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return lastError();
            }
            content.remove_prefix(static_cast<std::size_t>(written));
        }
        return {};
    }

    std::error_code setMode(int fd, mode_t mode) override
    {
        return ::fchmod(fd, mode) == 0 ? std::error_code() : lastError();
    }

    std::error_code sync(int fd) override
    {
        return ::fsync(fd) == 0 ? std::error_code() : lastError();
    }

    std::error_code close(int fd) override
    {
        return ::close(fd) == 0 ? std::error_code() : lastError();
    }

    std::error_code rename(const std::string& from, const std::string& to) override
    {
        return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code() : lastError();
    }

    void remove(const std::string& path) override
    {
        ::unlink(path.c_str());
    }
};

// Makes the rename itself durable; a failure here does not undo the replacement, so it is not reported.
void syncDirectory(const std::filesystem::path& directory)
{
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

mode_t modeFor(const std::filesystem::path& target, mode_t newFileMode)
{
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        return existing.st_mode & 07777;
    }
    return newFileMode;
}

} // namespace

FileSteps& posixFileSteps()
{
    static PosixFileSteps steps;
    return steps;
}

std::error_code writeFileAtomically(const std::filesystem::path& target, std::string_view content,
                                    mode_t newFileMode, FileSteps& steps)
{
    const mode_t mode = modeFor(target, newFileMode);
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    std::error_code error;
    const int fd = steps.createUnique(temporary, error);
    if (error) {
        return error;
    }
    error = steps.writeAll(fd, content);
    if (!error) {
        error = steps.setMode(fd, mode);
    }
    if (!error) {
        error = steps.sync(fd);
    }
    const std::error_code closeError = steps.close(fd);
    if (!error) {
        error = closeError;
    }
    if (!error) {
        error = steps.rename(temporary, target.string());
    }
    if (error) {
        steps.remove(temporary);
        return error;
    }
    syncDirectory(target.parent_path());
    return {};
}

std::error_code readWholeFile(const std::filesystem::path& file, std::string& content)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return lastError();
    }
    std::string data;
    char chunk[16384];
    std::error_code error;
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            error = lastError();
            break;
        }
        if (count == 0) {
            break;
        }
        data.append(chunk, static_cast<std::size_t>(count));
    }
    ::close(fd);
    if (!error) {
        content = std::move(data);
    }
    return error;
}

} // namespace vantrel::platform
