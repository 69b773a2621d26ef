#pragma once

#include <optional>
#include <string>

namespace vantrel::deployment {

// Deployment values compiled into every program. Each address can be replaced by an environment variable
// (VANTREL_*), which is how tests and the demo point the programs at a local service.

/** The service's production domain and its test-environment domain. */
inline constexpr const char* kServiceDomain = "corvane.com";
inline constexpr const char* kTestServiceDomain = "staging.corvane.com";

/** Relay base addresses, production and test ("wss://" + relay host + "/m2m/"). */
inline constexpr const char* M2M_URL = "wss://relay.corvane.com/m2m/";
inline constexpr const char* M2M_URL_DEV = "wss://relay.staging.corvane.com/m2m/";

/** The key text of the settings file: only its first 32 characters form the AES key. */
inline constexpr const char* kSettingsKeyText = "6d1e9b04-3c7a-4f25-a8e0-b52c17f93d6e";

/** The analytics project (24 lowercase hex digits) and its write and read keys (192 uppercase hex digits each). */
inline constexpr const char* kAnalyticsProjectId = "5f3c9a1e7b2d4c6e8a0f1b3d";
extern const char* const kAnalyticsWriteKey;
extern const char* const kAnalyticsReadKey;

/** The organisation prefix of the notification names. */
inline constexpr const char* kNotificationPrefix = "com.corvane.";

/** REST base with a trailing "/": $VANTREL_SERVICE_URL, else "https://apps." + domain + "/". */
std::string serviceBaseUrl(bool testEnvironment);

/** The public web host with a trailing "/": $VANTREL_WEB_URL, else "https://www.corvane.com/". */
std::string webBaseUrl();

/** The JSON-RPC endpoint: $VANTREL_RPC_URL, else "https://www." + domain + "/jsonrpc/v2/". */
std::string rpcUrl();

/** Relay base address: $VANTREL_RELAY_URL, else M2M_URL or, in the test environment, M2M_URL_DEV. */
std::string relayBaseUrl(bool testEnvironment);

/** The release site with a trailing "/": $VANTREL_RELEASE_URL, else "https://releases.corvane.com/". */
std::string releaseSiteUrl();

/** Where usage events are uploaded: $VANTREL_ANALYTICS_URL, else the analytics service's events address. */
std::string analyticsUrl();

/** A PEM file of extra trusted certificates, from $VANTREL_CA_FILE. */
std::optional<std::string> extraCaFile();

/** The message bus address, from $VANTREL_BUS_ADDRESS; nothing means the system bus. */
std::optional<std::string> busAddress();

} // namespace vantrel::deployment
