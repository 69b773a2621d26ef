#include "sandbox/Fixture.h"

#include "sandbox/DefaultFixture.h"
#include "sandbox/SandboxError.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace vantrel::sandbox {

namespace {

Error fixtureError(const std::string& where, const std::string& problem)
{
    return sandboxError(SandboxErrorCode::badFixture, fmt::format("fixture {}: {}", where, problem));
}

std::optional<std::int64_t> parsePort(std::string_view text)
{
    std::int64_t port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

/** "builtin:<kind>" or "host:port" where host is a loopback name ("[::1]:port" for IPv6). */
std::optional<DeviceTarget> parseTarget(const std::string& text)
{
    DeviceTarget target;
    target.description = text;
    static const std::map<std::string, DeviceTarget::Kind> kBuiltins = {
        {"builtin:echo", DeviceTarget::Kind::echo},
        {"builtin:banner", DeviceTarget::Kind::banner},
        {"builtin:sink", DeviceTarget::Kind::sink},
        {"builtin:source", DeviceTarget::Kind::source},
    };
    if (const auto builtin = kBuiltins.find(text); builtin != kBuiltins.end()) {
        target.kind = builtin->second;
        return target;
    }
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    std::string host = text.substr(0, colon);
    if (host == "[::1]") {
        host = "::1";
    }
    const auto port = parsePort(std::string_view(text).substr(colon + 1));
    if (!port || (host != "127.0.0.1" && host != "::1" && host != "localhost")) {
        return std::nullopt;
    }
    target.kind = DeviceTarget::Kind::address;
    target.host = host;
    target.port = static_cast<std::uint16_t>(*port);
    return target;
}

bool isPortList(const Json& value)
{
    return value.is_array()
        && std::all_of(value.begin(), value.end(), [](const Json& port) { return port.is_number_integer(); });
}

Result<FixtureAccount> readAccount(const Json& json, std::size_t index)
{
    const std::string where = fmt::format("accounts[{}]", index);
    if (!json.is_object()) {
        return fixtureError(where, "not an object");
    }
    FixtureAccount account;
    const auto email = textOf(json.value("email", Json()));
    const auto password = textOf(json.value("password", Json()));
    const auto token = textOf(json.value("token", Json()));
    if (!email || email->empty() || !password || !token || token->empty()) {
        return fixtureError(where, "\"email\", \"password\" and \"token\" must be non-empty texts");
    }
    account.email = *email;
    account.password = *password;
    account.token = *token;
    if (json.contains("second_factor")) {
        account.secondFactor = textOf(json["second_factor"]);
        if (!account.secondFactor) {
            return fixtureError(where, "\"second_factor\" must be a text");
        }
    }
    const Json devices = json.value("devices", Json::array());
    if (!devices.is_array()
        || !std::all_of(devices.begin(), devices.end(), [](const Json& d) { return d.is_string(); })) {
        return fixtureError(where, "\"devices\" must be a list of serials");
    }
    for (const Json& serial : devices) {
        account.devices.push_back(serial.get<std::string>());
    }
    account.profile = json.value("profile", Json::object());
    if (!account.profile.is_object()) {
        return fixtureError(where, "\"profile\" must be an object");
    }
    account.profile.erase("email");
    if (account.profile.contains("port_forwarding_ports") && !account.profile["port_forwarding_ports"].is_null()
        && !isPortList(account.profile["port_forwarding_ports"])) {
        return fixtureError(where, "\"profile.port_forwarding_ports\" must be a list of integers or null");
    }
    if (account.profile.contains("port_forwarding_ports") && account.profile["port_forwarding_ports"].is_null()) {
        account.profile.erase("port_forwarding_ports");
    }
    return account;
}

Result<FixtureDevice> readDevice(const Json& json, std::size_t index)
{
    const std::string where = fmt::format("devices[{}]", index);
    if (!json.is_object()) {
        return fixtureError(where, "not an object");
    }
    FixtureDevice device;
    const auto serial = textOf(json.value("serial", Json()));
    if (!serial || serial->empty()) {
        return fixtureError(where, "\"serial\" must be a non-empty text");
    }
    device.serial = *serial;
    const Json pk = json.value("pk", Json());
    device.pk = pk.is_number_integer() ? pk.get<std::int64_t>() : static_cast<std::int64_t>(index) + 1;
    device.online = boolValueOf(json.value("online", Json(true)));
    const Json targets = json.value("targets", Json::object());
    if (!targets.is_object()) {
        return fixtureError(where, "\"targets\" must be an object of port -> target");
    }
    for (const auto& [portText, targetText] : targets.items()) {
        const auto port = parsePort(portText);
        const auto target = targetText.is_string() ? parseTarget(targetText.get<std::string>()) : std::nullopt;
        if (!port || !target) {
            return fixtureError(where,
                                fmt::format("target \"{}\" must map a port to \"builtin:echo|banner|sink|source\" "
                                            "or a loopback \"host:port\"",
                                            portText));
        }
        device.targets.emplace(*port, *target);
    }
    device.record = json;
    device.record.erase("targets");
    device.record.erase("pk");
    if (device.record.contains("port_forwarding_ports")) {
        if (!isPortList(device.record["port_forwarding_ports"])) {
            return fixtureError(where, "\"port_forwarding_ports\" must be a list of integers");
        }
        device.ports = device.record["port_forwarding_ports"].get<std::vector<std::int64_t>>();
    } else {
        for (const auto& [port, target] : device.targets) {
            device.ports.push_back(port);
        }
        device.record["port_forwarding_ports"] = device.ports;
    }
    return device;
}

Result<FixtureRelease> readRelease(const Json& json)
{
    FixtureRelease release;
    if (!json.is_object()) {
        return fixtureError("release", "not an object");
    }
    const auto version = textOf(json.value("version", Json()));
    if (!version) {
        return fixtureError("release", "\"version\" must be a text");
    }
    release.version = *version;
    release.appVersions = json.value("app_versions", Json::object());
    const Json size = json.value("package_size", Json(4096));
    if (!size.is_number_unsigned() || size.get<std::uint64_t>() > 64 * 1024 * 1024) {
        return fixtureError("release", "\"package_size\" must be a whole number of bytes up to 64 MiB");
    }
    release.packageSize = size.get<std::size_t>();
    return release;
}

} // namespace

Result<Fixture> Fixture::fromJson(const Json& json)
{
    if (!json.is_object() || !json.value("accounts", Json()).is_array() || !json.value("devices", Json()).is_array()) {
        return fixtureError("root", "must be an object with the lists \"accounts\" and \"devices\"");
    }
    Fixture fixture;
    for (std::size_t i = 0; i < json["devices"].size(); ++i) {
        auto device = readDevice(json["devices"][i], i);
        if (!device) {
            return device.error();
        }
        if (fixture.findDevice(device.value().serial)) {
            return fixtureError(fmt::format("devices[{}]", i), "serial listed twice");
        }
        fixture.devices.push_back(std::move(device).value());
    }
    for (std::size_t i = 0; i < json["accounts"].size(); ++i) {
        auto account = readAccount(json["accounts"][i], i);
        if (!account) {
            return account.error();
        }
        for (const std::string& serial : account.value().devices) {
            if (!fixture.findDevice(serial)) {
                return fixtureError(fmt::format("accounts[{}]", i), fmt::format("unknown device \"{}\"", serial));
            }
        }
        fixture.accounts.push_back(std::move(account).value());
    }
    auto release = readRelease(json.value("release", Json::object({{"version", "1.0"}})));
    if (!release) {
        return release.error();
    }
    fixture.release = std::move(release).value();
    return fixture;
}

Json Fixture::defaultJson()
{
    auto json = parseJson(defaultFixtureText());
    if (!json) {
        throw std::logic_error("the compiled-in sandbox fixture is not valid JSON");
    }
    return *json;
}

const FixtureDevice* Fixture::findDevice(const std::string& serial) const
{
    const auto found = std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.serial == serial; });
    return found == devices.end() ? nullptr : &*found;
}

} // namespace vantrel::sandbox
