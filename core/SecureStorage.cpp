#include "core/SecureStorage.h"

#include "core/Crypto.h"
#include "core/Deployment.h"
#include "core/SettingsKeys.h"
#include "core/Utf8.h"

#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ProcessRunner.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

constexpr mode_t kSharedMode = 0775;
constexpr const char* kSettingsFileName = "crv_settings.config";
constexpr const char* kForwardsFileName = "crv_data.json";
constexpr const char* kGroupsProgram = "/usr/bin/groups";
constexpr const char* kSudoProgram = "/usr/bin/sudo";
constexpr const char* kAdminAction = "org.freedesktop.policykit.exec";
constexpr const char* kAdminGroups[] = {"admin", "sudo", "wheel"};

void createEmptyFile(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kSharedMode);
    if (fd >= 0) {
        ::fchmod(fd, kSharedMode); // the umask must not narrow the shared mode
        ::close(fd);
    }
}

// The settings text as it may appear in the log: the sign-in token never does.
std::string redactedSettings(std::string_view jsonText)
{
    std::optional<Json> parsed = parseJson(jsonText);
    if (!parsed) {
        return "<not JSON, " + std::to_string(jsonText.size()) + " bytes>";
    }
    if (parsed->is_object() && parsed->contains(STN_AUTH_TOKEN)) {
        (*parsed)[STN_AUTH_TOKEN] = "<redacted>";
    }
    return toCompactJson(*parsed);
}

bool mayDelete(const std::filesystem::path& path)
{
    return ::access(path.parent_path().c_str(), W_OK | X_OK) == 0;
}

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

SecureStorage::SecureStorage(std::optional<std::filesystem::path> directory, std::filesystem::path finalizerTool,
                             std::unique_ptr<platform::Authority> authority, platform::FileSteps& fileSteps)
    : m_directory(std::move(directory))
    , m_finalizerTool(std::move(finalizerTool))
    , m_authority(std::move(authority))
    , m_fileSteps(fileSteps)
{
    checkAndCreateCacheDirIfNeeded();
}

SecureStorage& SecureStorage::sharedStorage()
{
    static SecureStorage storage(platform::paths::sharedCacheDirectory(), platform::paths::finalizerToolPath(),
                                 platform::makePolkitAuthority());
    return storage;
}

std::optional<std::filesystem::path> SecureStorage::getConfigDir() const
{
    return m_directory;
}

std::optional<std::filesystem::path> SecureStorage::fileNamed(const char* name) const
{
    if (!m_directory) {
        return std::nullopt;
    }
    return *m_directory / name;
}

std::optional<std::filesystem::path> SecureStorage::getConfigUrl() const
{
    return fileNamed(kSettingsFileName);
}

std::optional<std::filesystem::path> SecureStorage::getDataUrl() const
{
    return fileNamed(kForwardsFileName);
}

void SecureStorage::checkAndCreateCacheDirIfNeeded() const
{
    if (!m_directory) {
        return;
    }
    std::error_code error;
    if (!std::filesystem::exists(*m_directory, error)) {
        if (std::filesystem::create_directories(*m_directory, error)) {
            ::chmod(m_directory->c_str(), kSharedMode);
        }
    }
    createEmptyFile(*getConfigUrl());
    createEmptyFile(*getDataUrl());
}

std::optional<std::string> SecureStorage::getConfigString() const
{
    const auto file = getConfigUrl();
    std::string encoded;
    if (!file || platform::readWholeFile(*file, encoded)) {
        return std::nullopt;
    }
    const auto ciphertext = crypto::base64Decode(encoded);
    if (!ciphertext) {
        return std::nullopt;
    }
    const crypto::AesKey key(deployment::kSettingsKeyText);
    auto plaintext = crypto::aes256CbcDecrypt(*ciphertext, key);
    if (!plaintext || !isValidUtf8(*plaintext)) {
        return std::nullopt;
    }
    return plaintext;
}

Result<void> SecureStorage::setConfigString(std::string_view jsonText) const
{
    logFormat("set settings: {}", redactedSettings(jsonText));
    const crypto::AesKey key(deployment::kSettingsKeyText);
    return writeFile(getConfigUrl(), crypto::base64Encode(crypto::aes256CbcEncrypt(jsonText, key)));
}

SettingsMessage SecureStorage::getConfig() const
{
    const auto text = getConfigString();
    const std::optional<Json> parsed = text ? parseJson(*text) : std::nullopt;
    return SettingsMessage::createFromDict(parsed.value_or(Json::object()));
}

Result<void> SecureStorage::setConfig(const SettingsMessage& settings) const
{
    return setConfigString(toCompactJson(settings.toDictionary()));
}

std::optional<std::string> SecureStorage::getDataString() const
{
    const auto file = getDataUrl();
    std::string text;
    if (!file || platform::readWholeFile(*file, text)) {
        return std::nullopt;
    }
    return text;
}

Result<void> SecureStorage::setDataString(std::string_view jsonText) const
{
    return writeFile(getDataUrl(), jsonText);
}

Json SecureStorage::getData() const
{
    const auto text = getDataString();
    std::optional<Json> parsed = text ? parseJson(*text) : std::nullopt;
    if (parsed && parsed->is_object()) {
        return std::move(*parsed);
    }
    return Json::object();
}

Result<void> SecureStorage::setData(const Json& forwards) const
{
    return setDataString(toCompactJson(forwards));
}

Result<void> SecureStorage::clearData() const
{
    return setData(Json::object());
}

Result<void> SecureStorage::writeFile(const std::optional<std::filesystem::path>& file, std::string_view content) const
{
    if (!file) {
        return Error{"vantrel.storage", 1, "No folder for the shared files", nullptr};
    }
    if (const std::error_code error = platform::writeFileAtomically(*file, content, kSharedMode, m_fileSteps)) {
        logFormat("could not write {}: {}", file->string(), error.message());
        return Error{"vantrel.storage", error.value(), error.message(), nullptr};
    }
    return {};
}

bool SecureStorage::canWriteToSettings() const
{
    return m_directory && mayDelete(*m_directory);
}

bool SecureStorage::canWriteToData() const
{
    const auto file = getDataUrl();
    return file && mayDelete(*file);
}

bool SecureStorage::isAdmin() const
{
    const auto outcome = platform::runProcess(kGroupsProgram, {});
    return outcome && groupsGrantAdmin(outcome->standardOutput);
}

bool SecureStorage::groupsGrantAdmin(std::string_view groupsOutput)
{
    std::size_t start = 0;
    while (start <= groupsOutput.size()) {
        std::size_t end = groupsOutput.find_first_of(" \t\r\n", start);
        if (end == std::string_view::npos) {
            end = groupsOutput.size();
        }
        const std::string group = lowercase(std::string(groupsOutput.substr(start, end - start)));
        if (std::find(std::begin(kAdminGroups), std::end(kAdminGroups), group) != std::end(kAdminGroups)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::int32_t SecureStorage::PreauthorizePrivilegedProcess(AuthorizationRef& authorization) const
{
    const auto status = m_authority->checkAction(kManageForwardsAction, true);
    authorization.grantedActions.clear();
    if (status == platform::AuthorizationStatus::Granted) {
        authorization.grantedActions.emplace_back(kManageForwardsAction);
    }
    return static_cast<std::int32_t>(status);
}

std::int32_t SecureStorage::LaunchPreauthorizedProcess(AuthorizationRef& authorization, const std::string& tool) const
{
    auto status = platform::AuthorizationStatus::Denied;
    if (!authorization.grantedActions.empty()) {
        status = m_authority->runWithAdminRights(tool, {});
    }
    authorization.grantedActions.clear();
    return static_cast<std::int32_t>(status);
}

Result<void> SecureStorage::askForSudo() const
{
    Result<void> outcome;
    const auto rights = m_authority->checkAction(kAdminAction, true);
    if (rights != platform::AuthorizationStatus::Granted) {
        logFormat("Copy Rights Unsuccessful: {}", static_cast<std::int32_t>(rights));
        outcome = Error{"vantrel.authorization", static_cast<std::int32_t>(rights), "Copy Rights Unsuccessful", nullptr};
    }
    const auto ran = m_authority->runWithAdminRights(kSudoProgram, {});
    if (ran != platform::AuthorizationStatus::Granted) {
        logFormat("Error: {}", static_cast<std::int32_t>(ran));
        outcome = Error{"vantrel.authorization", static_cast<std::int32_t>(ran), "Error", nullptr};
    }
    return outcome;
}

void SecureStorage::removeFinalizer() const
{
    std::error_code error;
    if (!std::filesystem::remove(m_finalizerTool, error) && !error) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    logFormat("{}", error.message());
}

} // namespace vantrel
