#include "daemon/Daemon.h"

#include "daemon/PortGrant.h"

#include "core/Deployment.h"
#include "core/FinalizerTracker.h"
#include "core/MainQueue.h"
#include "core/PortNumber.h"
#include "core/ProcessRole.h"
#include "core/SecureStorage.h"
#include "core/SettingsKeys.h"
#include "core/ShellKeenTracker.h"
#include "core/ShellRESTAPI.h"
#include "core/ShellUserDefaults.h"
#include "core/VantrelDaemonUtils.h"

#include "platform/Log.h"

#include <cassert>
#include <exception>

namespace vantrel {
namespace {

constexpr const char* kShortVersion = "1.6";
constexpr const char* kBuild = "1.16";

std::string textForLog(const JsonField& field)
{
    return textOf(field).value_or(isPresent(field) ? toCompactJson(field) : "(null)");
}

// The command as it may appear in the log: the settings it carries never show the sign-in token.
std::string commandForLog(const IPCCommand& command)
{
    Json shown = command.toDictionary();
    if (const auto data = textOf(command.data)) {
        if (auto settings = parseJson(*data); settings && settings->is_object() && settings->contains(STN_AUTH_TOKEN)) {
            (*settings)[STN_AUTH_TOKEN] = "<redacted>";
            shown["data"] = toCompactJson(*settings);
        }
    }
    return toCompactJson(shown);
}

std::string senderForLog(const platform::SignalSender& sender)
{
    return sender.uid ? "uid " + std::to_string(*sender.uid) : "unknown uid (" + sender.uniqueName + ")";
}

} // namespace

Daemon::Daemon(IoContextPool& pool, boost::asio::any_io_executor mainExecutor)
    : m_pool(pool)
    , m_mainExecutor(std::move(mainExecutor))
{
}

Daemon::~Daemon()
{
    closeListeners();
}

std::string Daemon::getAppVersion()
{
    return fmt::format("{} ({})", kShortVersion, kBuild);
}

void Daemon::start()
{
    assert(!started && "_started == NO");
    runningServers.clear();
    started = true;
    ShellUserDefaults& preferences = ShellUserDefaults::sharedInstance();
    preferences.setDebugMode(false);

    ShellKeenTracker::sharedTracker().setVersionString(getAppVersion());
    FinalizerTracker::sharedTracker().setVersionString(getAppVersion());
    ShellKeenTracker::sharedTracker().setCustomClient("macOS daemon");
    ShellKeenTracker::sharedTracker().initializeWithProjectId(deployment::kAnalyticsProjectId,
                                                              deployment::kAnalyticsWriteKey,
                                                              deployment::kAnalyticsReadKey);
    FinalizerTracker::sharedTracker().initializeWithProjectId(deployment::kAnalyticsProjectId,
                                                              deployment::kAnalyticsWriteKey,
                                                              deployment::kAnalyticsReadKey);

    VantrelDaemonUtils::addObserverForPingAsDaemon([this] { CallbackPing(); }, true);
    VantrelDaemonUtils::addObserverForSettingsChangedAsDaemon([this] { CallbackSettings(); }, true);
    VantrelDaemonUtils::addObserverForCommandAsDaemon(
        [this](const std::optional<std::string>& text, const platform::SignalSender& sender) {
            CallbackCommand(text, sender);
        },
        true);

    IS_DAEMON = true;
    preferences.setAuthToken(SecureStorage::sharedStorage().getConfig().stnAuthToken, false);
    reviewSettings();
    updateProfile();
}

void Daemon::stop()
{
    assert(started && "_started == YES");
    started = false;
}

void Daemon::closeListeners()
{
    for (const auto& server : runningServers) {
        server->close();
    }
    runningServers.clear();
}

// ---- Review ----

void Daemon::reviewSettings()
{
    logFormat("[v:{}] Daemon reviews settings", getAppVersion());
    ShellUserDefaults& preferences = ShellUserDefaults::sharedInstance();
    const SettingsMessage settings = SecureStorage::sharedStorage().getConfig();
    preferences.setAuthToken(settings.stnAuthToken, false);
    preferences.setRESTShellUser(settings.stnUser);
    reportInstallationIfMarked(settings);
    const Json forwards = SecureStorage::sharedStorage().getData();
    closeListeners();
    if (!isPresent(settings.stnAuthToken)) {
        return; // nobody is signed in: no forward runs
    }
    for (const auto& [identifier, forward] : forwards.items()) {
        startServer(DevicePortAssociation::fromDict(forward));
    }
}

void Daemon::reportInstallationIfMarked(SettingsMessage settings)
{
    const auto marker = textOf(settings.stnInstallationToTrack);
    if (!marker || marker->empty()) {
        return;
    }
    FinalizerTracker::sharedTracker().sendInstallation(*marker);
    settings.stnInstallationToTrack = Json();
    (void)SecureStorage::sharedStorage().setConfig(settings);
    SecureStorage::sharedStorage().removeFinalizer();
}

void Daemon::startServer(const DevicePortAssociation& association)
{
    const auto user = ShellUserDefaults::sharedInstance().getRESTShellUser();
    const PortGrant grant(user ? user->msgForwardingPorts : Json());
    if (grant.allowsNothing()) {
        logFormat("{}", "You're not allowed to assign any remote port.\n");
        return;
    }
    if (!grant.allows(association.remotePort)) {
        logFormat("{}", fmt::format("You're not allowed to assign remote port {}.\n", textForLog(association.remotePort)));
        return;
    }
    if (!portNumberOf(association.localPort) || !portNumberOf(association.remotePort)) {
        logFormat("[v:{}] skipped the forward {}: local port {} or remote port {} is not a port number",
                  getAppVersion(), textForLog(association.ID), textForLog(association.localPort),
                  textForLog(association.remotePort));
        return;
    }
    auto server = RoutingServer::createWithAssociation(std::make_shared<const DevicePortAssociation>(association),
                                                       m_pool, m_mainExecutor);
    server->setAppVersion(getAppVersion());
    // Listening starts on a later turn, after this review has closed every old listener.
    MainQueue::shared().post([server] { (void)server->listen(); });
    runningServers.push_back(std::move(server));
}

// ---- Profile refresh ----

void Daemon::updateProfile()
{
    ShellRESTAPI::sharedAPI().getProfileWithToken(std::nullopt, [this](GenericRESTResponse<RESTShellUser> response) {
        if (response.error) {
            logFormat("error getting user: {}", response.error->description);
        } else if (response.result) {
            ShellUserDefaults::sharedInstance().setRESTShellUser(*response.result);
            applyGrants(response.result->msgForwardingPorts);
        }
        MainQueue::shared().postAfter(kProfileRefreshInterval, [this] { updateProfile(); });
    });
}

void Daemon::applyGrants(const JsonField& forwardingPorts)
{
    const PortGrant grant(forwardingPorts);
    if (!grant.isKnown() || grant.isUnrestrictedList()) {
        return;
    }
    if (grant.allowsNothing()) {
        closeListeners();
        return;
    }
    // A revoked port stops at once; a newly granted one waits for the next review.
    for (const auto& server : runningServers) {
        if (!grant.allows(server->forward().remotePort)) {
            server->close();
        }
    }
}

// ---- Notifications ----

void Daemon::CallbackPing()
{
    VantrelDaemonUtils::sendPingAsDaemon(true);
}

void Daemon::CallbackSettings()
{
    reviewSettings();
    logFormat("Daemon received review settings message.");
}

void Daemon::CallbackCommand(const std::optional<std::string>& text, const platform::SignalSender& sender)
{
    try {
        if (!text) {
            logFormat("command message error:{} (from {})", "the command carries no text", senderForLog(sender));
            return;
        }
        if (text->size() > kMaxCommandSize) {
            logFormat("command message error:{} bytes is too large (from {})", text->size(), senderForLog(sender));
            return;
        }
        const auto parsed = parseJson(*text);
        if (parsed && !parsed->is_object()) {
            logFormat("command message error:{} (from {})", "the command is not a JSON object", senderForLog(sender));
            return;
        }
        const IPCCommand command = IPCCommand::fromString(*text);
        logFormat("command:{} (from {})", commandForLog(command), senderForLog(sender));
        dispatch(command);
    } catch (const std::exception& error) {
        logFormat("command message error:{}", error.what());
    }
}

void Daemon::dispatch(const IPCCommand& command)
{
    if (!isPresent(command.code)) {
        return;
    }
    const std::int64_t code = integerValueOf(command.code);
    if (code == IPCCommand::kProvideSettings) {
        commandProvideSettings();
    } else if (code == IPCCommand::kProvideData) {
        commandProvideData();
    } else if (code == IPCCommand::kSetData || code == IPCCommand::kSetSettings) {
        const auto data = textOf(command.data);
        if (!data) {
            logFormat("command message error:command {} carries no data text; ignored", code);
        } else if (code == IPCCommand::kSetData) {
            commandSetData(*data);
        } else {
            commandSetSettings(*data);
        }
    }
}

void Daemon::commandSetSettings(const std::string& settingsText)
{
    (void)SecureStorage::sharedStorage().setConfigString(settingsText);
    reviewSettings();
    VantrelDaemonUtils::sendSettingsChangedAsDaemon(true);
}

void Daemon::commandSetData(const std::string& forwardsText)
{
    (void)SecureStorage::sharedStorage().setDataString(forwardsText);
    reviewSettings();
    VantrelDaemonUtils::sendSettingsChangedAsDaemon(true);
}

void Daemon::commandProvideSettings()
{
    IPCCommand answer;
    answer.code = IPCCommand::kProvideSettings;
    if (auto text = SecureStorage::sharedStorage().getConfigString()) {
        answer.data = *text;
    }
    VantrelDaemonUtils::sendCommandAsDaemon(true, answer);
}

void Daemon::commandProvideData()
{
    IPCCommand answer;
    answer.code = IPCCommand::kProvideData;
    if (auto text = SecureStorage::sharedStorage().getDataString()) {
        answer.data = *text;
    }
    VantrelDaemonUtils::sendCommandAsDaemon(true, answer);
}

} // namespace vantrel
