#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include <sys/types.h>

namespace vantrel::platform {

/**
 * The file-system steps of an atomic replacement. The POSIX implementation is the one the programs use;
 * tests substitute one that fails a chosen step to prove that a failed write leaves the old file whole.
 */
class FileSteps {
public:
    virtual ~FileSteps() = default;
    /** Creates a new, unique file from a template ending in "XXXXXX" (which is replaced); returns its descriptor. */
    virtual int createUnique(std::string& pathTemplate, std::error_code& error) = 0;
    virtual std::error_code writeAll(int fd, std::string_view content) = 0;
    virtual std::error_code setMode(int fd, mode_t mode) = 0;
    virtual std::error_code sync(int fd) = 0;
    virtual std::error_code close(int fd) = 0;
    virtual std::error_code rename(const std::string& from, const std::string& to) = 0;
    virtual void remove(const std::string& path) = 0;
};

/** The real POSIX steps (mkstemp, write, fchmod, fsync, close, rename, unlink). */
FileSteps& posixFileSteps();

/**
 * Replaces the file at target with content so that a reader sees either the whole old or the whole new file:
 * the content goes to a temporary file in the same folder, is flushed to disk and renamed over the target.
 * The new file gets the old file's mode when there was one, else newFileMode.
 * On failure the old file is left as it was, the temporary file is removed and the error is returned.
 */
std::error_code writeFileAtomically(const std::filesystem::path& target, std::string_view content,
                                    mode_t newFileMode, FileSteps& steps = posixFileSteps());

/** Reads a whole file; an error when it is missing or unreadable. */
std::error_code readWholeFile(const std::filesystem::path& file, std::string& content);

} // namespace vantrel::platform
