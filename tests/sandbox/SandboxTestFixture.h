#pragma once

#include "ShellCore/Bencode.h"
#include "sandbox/Sandbox.h"
#include "tests/sandbox/SandboxClient.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::sandbox::testing {

inline constexpr const char* kDemoEmail = "demo@corvane.test";
inline constexpr const char* kDemoPassword = "demo-password";
inline constexpr const char* kDemoToken = "demo-token-7f3a9c2e41b8";
inline constexpr const char* kTwoFactorEmail = "twofactor@corvane.test";
inline constexpr const char* kRestrictedToken = "restricted-token-9b14f07d3e22";
inline constexpr const char* kGateway = "CRV-SANDBOX-0001"; // ports 22 (echo) and 80 (banner)
inline constexpr const char* kLogger = "CRV-SANDBOX-0002"; // ports 9 (sink) and 19 (source)
inline constexpr const char* kSpare = "CRV-SANDBOX-0003"; // offline

inline std::map<std::string, std::string> tokenHeader(const std::string& token)
{
    return {{"Authorization", "Token " + token}};
}

/** The scalars of a relay packet: each element's bytes (byte strings) or digits (integers); nothing if not a list. */
struct DecodedPacket {
    std::vector<std::string> elements;
    bool allBytes = true; ///< every element is a byte string, as the relay writes them
};

inline std::optional<DecodedPacket> decodePacket(const std::string& message)
{
    const auto document = decodeBencode(message);
    if (!document || !document.value().root().isList()) {
        return std::nullopt;
    }
    DecodedPacket packet;
    for (const BencodeValue element : document.value().root().elements()) {
        packet.allBytes = packet.allBytes && element.isBytes();
        packet.elements.push_back(element.isBytes() ? std::string(*element.bytes()) : pingText(element));
    }
    return packet;
}

/** A packet as the product sends it: integers for type and route, a byte string for data. */
inline std::string clientPacket(std::int64_t type, std::optional<std::int64_t> route = {},
                                std::optional<std::string> data = {})
{
    std::string packet;
    BencodeWriter writer(packet);
    writer.beginList().integer(type);
    if (route) {
        writer.integer(*route);
    }
    if (data) {
        writer.bytes(*data);
    }
    writer.end();
    return packet;
}

/** Starts a sandbox in a fresh folder for each test. */
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override { start({}); }

    void start(SandboxOptions options)
    {
        m_sandbox.reset();
        options.directory = m_directory.path();
        auto started = Sandbox::start(std::move(options));
        ASSERT_TRUE(started) << started.error().text();
        m_sandbox = std::move(started).value();
    }

    Sandbox& sandbox() { return *m_sandbox; }
    unsigned short port() const { return UrlParts::of(m_sandbox->serviceUrl()).port; }
    std::unique_ptr<HttpsClient> client(const std::string& serverName = "127.0.0.1")
    {
        return std::make_unique<HttpsClient>(m_sandbox->caFile(), port(), serverName);
    }
    /** The request target of a URL of the sandbox plus a path: service("auth/") -> "/apps/auth/". */
    std::string service(const std::string& path) const { return UrlParts::of(m_sandbox->serviceUrl()).target + path; }
    std::string targetOf(const std::string& url) const { return UrlParts::of(url).target; }

    std::unique_ptr<RelayClient> relay(const std::string& serial)
    {
        auto client = std::make_unique<RelayClient>(m_sandbox->caFile(), port());
        const auto error = client->open(targetOf(m_sandbox->relayUrl()) + "?device=" + serial);
        EXPECT_FALSE(error) << error.message();
        return client;
    }

    /** Asks the relay for the connection's identity ([1] -> [9, identity]). */
    std::string identityOf(RelayClient& relayClient)
    {
        EXPECT_FALSE(relayClient.send(clientPacket(1)));
        const auto answer = relayClient.read();
        const auto packet = answer ? decodePacket(answer->bytes) : std::nullopt;
        if (!packet || packet->elements.size() != 2 || packet->elements[0] != "9" || !packet->allBytes) {
            ADD_FAILURE() << "no identity packet";
            return {};
        }
        return packet->elements[1];
    }

    /** The ports call of the product for a device port over an open relay connection. */
    Answer callPorts(HttpsClient& http, const std::string& serial, const std::string& identity,
                     const std::string& remotePort, const std::string& token = kDemoToken)
    {
        return http.post(service("devices/" + serial + "/ports/"),
                         Json {{"m2m_identity", identity}, {"service", "redirect-port"}, {"port", remotePort}},
                         tokenHeader(token));
    }

    vantrel::testing::TempDirectory m_directory;
    std::unique_ptr<Sandbox> m_sandbox;
};

} // namespace vantrel::sandbox::testing
