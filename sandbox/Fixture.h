#pragma once

#include "core/JsonValue.h"
#include "core/Result.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::sandbox {

/** Where the sandbox connects a device port: a real loopback TCP service, or one of its built-in services. */
struct DeviceTarget {
    enum class Kind { address, echo, banner, sink, source };
    Kind kind = Kind::echo;
    std::string host; ///< for Kind::address: "127.0.0.1", "::1" or "localhost"
    std::uint16_t port = 0; ///< for Kind::address
    std::string description; ///< the fixture's text, for logs and statistics ("builtin:echo", "127.0.0.1:7")
};

/** One account of the fixture. */
struct FixtureAccount {
    std::string email;
    std::string password;
    std::optional<std::string> secondFactor; ///< the code verify-2fa-token/ accepts; none = no second factor
    std::string token; ///< the account's sign-in token (valid from the start)
    std::vector<std::string> devices; ///< serials of the account's devices, in list order
    Json profile; ///< profile members (object) as "profile/" serves them, without "email"
};

/** One device of the fixture. */
struct FixtureDevice {
    std::string serial;
    std::int64_t pk = 0; ///< the device key of the JSON-RPC calls ("device_pk")
    bool online = true;
    Json record; ///< the device members as served by "devices/" (URLs are added when serving)
    std::vector<std::int64_t> ports; ///< the device's forwardable ports ("port_forwarding_ports")
    std::map<std::int64_t, DeviceTarget> targets; ///< port -> where the relay connects it
};

/** What the release site and the public web host publish. */
struct FixtureRelease {
    std::string version; ///< text of latest.txt
    Json appVersions; ///< content of static/files/app_versions.json
    std::size_t packageSize = 0; ///< bytes served as CorvaneVantrelSetup.pkg
};

/**
 * The service's data: accounts, devices and release information, read from JSON (format in sandbox/README.md).
 * A plain value; the sandbox copies what it changes at run time.
 */
struct Fixture {
    std::vector<FixtureAccount> accounts;
    std::vector<FixtureDevice> devices;
    FixtureRelease release;

    /** Reads and checks a fixture; errors carry SandboxErrorCode::badFixture and name the faulty member. */
    static Result<Fixture> fromJson(const Json& json);

    /** The fixture shipped as sandbox/fixture.json. */
    static Json defaultJson();

    const FixtureDevice* findDevice(const std::string& serial) const;
};

} // namespace vantrel::sandbox
