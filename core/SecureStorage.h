#pragma once

#include "core/JsonValue.h"
#include "core/Result.h"
#include "core/SettingsMessage.h"

#include "platform/AtomicFile.h"
#include "platform/Authorization.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

/** Rights obtained from the authorization service, held until the privileged action has run. */
struct AuthorizationRef {
    std::vector<std::string> grantedActions;
};

/**
 * The two files the programs share on one computer: the settings file (one SettingsMessage, AES-256-CBC
 * encrypted, one line of Base64) and the forwards file (plain JSON object of forwards keyed by identifier).
 * Every read goes to disk and every write replaces a whole file atomically, so several processes may use the
 * files at once and a reader never sees half a file. Also answers whether the user is an admin and runs the
 * admin prompt. Holds no mutable state: safe to use from any thread.
 */
class SecureStorage {
public:
    /**
     * A store over the given folder (nothing: no folder, so reads give defaults and writes do nothing); creates
     * the folder and the empty files where missing. authority answers the admin prompt; fileSteps performs the
     * atomic writes.
     */
    SecureStorage(std::optional<std::filesystem::path> directory, std::filesystem::path finalizerTool,
                  std::unique_ptr<platform::Authority> authority,
                  platform::FileSteps& fileSteps = platform::posixFileSteps());

    /** The process-wide store over the shared folder, created (with its folder and files) on first use. */
    static SecureStorage& sharedStorage();

    std::optional<std::filesystem::path> getConfigDir() const;
    std::optional<std::filesystem::path> getConfigUrl() const;
    std::optional<std::filesystem::path> getDataUrl() const;

    /** Creates the folder and the two empty files where missing, all with mode 0775; failures are ignored. */
    void checkAndCreateCacheDirIfNeeded() const;

    /** The decrypted settings text; nothing when the file is missing, unreadable or does not decrypt to UTF-8. */
    std::optional<std::string> getConfigString() const;
    /** Logs the text (sign-in token redacted), encrypts it and replaces the settings file. */
    Result<void> setConfigString(std::string_view jsonText) const;
    /** The stored settings; every field at its default when the file gives no usable record. */
    SettingsMessage getConfig() const;
    Result<void> setConfig(const SettingsMessage& settings) const;

    std::optional<std::string> getDataString() const;
    Result<void> setDataString(std::string_view jsonText) const;
    /** The forwards as a JSON object; anything but a stored object gives an empty one. */
    Json getData() const;
    Result<void> setData(const Json& forwards) const;
    /** Leaves the forwards file holding exactly "{}". */
    Result<void> clearData() const;

    /** Whether the current user may delete the settings folder. */
    bool canWriteToSettings() const;
    /** Whether the current user may delete the forwards file. */
    bool canWriteToData() const;

    /** Whether the current user is in an admin group ("admin", "sudo" or "wheel"), as /usr/bin/groups tells. */
    bool isAdmin() const;
    /** Whether a /usr/bin/groups output names an admin group as a whole word, in any letter case. */
    static bool groupsGrantAdmin(std::string_view groupsOutput);

    /** Asks, interactively, for the right to change the forwards; 0 when granted. */
    std::int32_t PreauthorizePrivilegedProcess(AuthorizationRef& authorization) const;
    /** Runs tool with admin rights under the authorization (no arguments), then drops its rights; 0 when it ran. */
    std::int32_t LaunchPreauthorizedProcess(AuthorizationRef& authorization, const std::string& tool) const;
    /** Asks for admin rights and runs "/usr/bin/sudo" with them; each failed step is logged. */
    Result<void> askForSudo() const;

    /** Deletes the installed finalizer tool and logs the outcome. */
    void removeFinalizer() const;

    /** The polkit action that guards changes of the forwards. */
    static constexpr const char* kManageForwardsAction = "com.corvane.vantrel.manage-forwards";

private:
    std::optional<std::filesystem::path> fileNamed(const char* name) const;
    Result<void> writeFile(const std::optional<std::filesystem::path>& file, std::string_view content) const;

    const std::optional<std::filesystem::path> m_directory;
    const std::filesystem::path m_finalizerTool;
    const std::unique_ptr<platform::Authority> m_authority;
    platform::FileSteps& m_fileSteps;
};

} // namespace vantrel
