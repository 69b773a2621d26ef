#include "platform/AtomicFile.h"

#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vantrel::platform {
namespace {

std::string contentOf(const std::filesystem::path& file)
{
    std::string content;
    EXPECT_FALSE(readWholeFile(file, content));
    return content;
}

// Fails the Nth file step (counting from 0) and passes every other step to the real implementation.
class FailingSteps final : public FileSteps {
public:
    explicit FailingSteps(int failAt)
        : m_failAt(failAt)
    {
    }

    int createUnique(std::string& pathTemplate, std::error_code& error) override
    {
        if (failNow()) {
            error = injected();
            return -1;
        }
        return posixFileSteps().createUnique(pathTemplate, error);
    }
    std::error_code writeAll(int fd, std::string_view content) override
    {
        return failNow() ? injected() : posixFileSteps().writeAll(fd, content);
    }
    std::error_code setMode(int fd, mode_t mode) override
    {
        return failNow() ? injected() : posixFileSteps().setMode(fd, mode);
    }
    std::error_code sync(int fd) override { return failNow() ? injected() : posixFileSteps().sync(fd); }
    std::error_code close(int fd) override
    {
        const std::error_code real = posixFileSteps().close(fd); // the descriptor is released either way
        return failNow() ? injected() : real;
    }
    std::error_code rename(const std::string& from, const std::string& to) override
    {
        return failNow() ? injected() : posixFileSteps().rename(from, to);
    }
    void remove(const std::string& path) override { posixFileSteps().remove(path); }

    bool failed() const { return m_step > m_failAt; }

private:
    bool failNow() { return m_step++ == m_failAt; }
    static std::error_code injected() { return std::make_error_code(std::errc::no_space_on_device); }

    int m_failAt;
    int m_step = 0;
};

TEST(AtomicFile, WritesContentAndGivesNewFilesTheRequestedMode)
{
    testing::TempDirectory folder;
    const auto file = folder / "settings";
    ASSERT_FALSE(writeFileAtomically(file, "first", 0775));
    EXPECT_EQ(contentOf(file), "first");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0775u);
}

TEST(AtomicFile, ReplacementKeepsTheModeOfTheOldFile)
{
    testing::TempDirectory folder;
    const auto file = folder / "settings";
    ASSERT_FALSE(writeFileAtomically(file, "first", 0640));
    ASSERT_FALSE(writeFileAtomically(file, "second", 0775));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(contentOf(file), "second");
}

TEST(AtomicFile, EveryFailedStepLeavesTheOldFileWholeAndNoTemporaryFile)
{
    testing::TempDirectory folder;
    const auto file = folder / "settings";
    for (int failAt = 0;; ++failAt) {
        SCOPED_TRACE("failing step " + std::to_string(failAt));
        ASSERT_FALSE(writeFileAtomically(file, "old content", 0775));
        FailingSteps steps(failAt);
        const std::error_code error = writeFileAtomically(file, "new content", 0775, steps);
        if (!steps.failed()) {
            // Every step has been failed once; this run went through.
            EXPECT_FALSE(error);
            EXPECT_EQ(contentOf(file), "new content");
            break;
        }
        EXPECT_TRUE(error);
        EXPECT_EQ(contentOf(file), "old content");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
    }
}

TEST(AtomicFile, ReadingAMissingFileOrAFolderIsAnError)
{
    testing::TempDirectory folder;
    std::string content = "untouched";
    EXPECT_TRUE(readWholeFile(folder / "missing", content));
    EXPECT_TRUE(readWholeFile(folder.path(), content));
    EXPECT_EQ(content, "untouched");
}

} // namespace
} // namespace vantrel::platform
