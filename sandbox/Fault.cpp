#include "sandbox/Fault.h"

#include "sandbox/SandboxError.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <utility>

namespace vantrel::sandbox {

namespace {

constexpr std::array<std::pair<Fault::Kind, const char*>, 8> kKindNames = {{
    {Fault::Kind::status, "status"},
    {Fault::Kind::delay, "delay"},
    {Fault::Kind::close, "close"},
    {Fault::Kind::refusePorts, "refuse_ports"},
    {Fault::Kind::relayDrop, "relay_drop"},
    {Fault::Kind::relayStall, "relay_stall"},
    {Fault::Kind::relayMalformed, "relay_malformed"},
    {Fault::Kind::rpcError, "rpc_error"},
}};

constexpr std::array<std::pair<Fault::Malformed, const char*>, 5> kMalformedNames = {{
    {Fault::Malformed::garbage, "garbage"},
    {Fault::Malformed::text, "text"},
    {Fault::Malformed::unknownType, "unknown_type"},
    {Fault::Malformed::oversized, "oversized"},
    {Fault::Malformed::integerType, "integer_type"},
}};

template <class Table, class Value> const char* nameOf(const Table& table, Value value)
{
    return std::find_if(table.begin(), table.end(), [&](const auto& entry) { return entry.first == value; })->second;
}

template <class Table>
auto valueOf(const Table& table, const std::string& name) -> std::optional<typename Table::value_type::first_type>
{
    const auto found =
        std::find_if(table.begin(), table.end(), [&](const auto& entry) { return name == entry.second; });
    if (found == table.end()) {
        return std::nullopt;
    }
    return found->first;
}

Error faultError(const std::string& problem)
{
    return sandboxError(SandboxErrorCode::badFault, "fault: " + problem);
}

/** Reads an optional whole-number member within [low, high]; absent leaves target unchanged. */
template <class T> bool readNumber(const Json& json, const char* key, std::int64_t low, std::int64_t high, T& target)
{
    if (!json.contains(key)) {
        return true;
    }
    const Json& value = json[key];
    if (!value.is_number_integer() || value.get<std::int64_t>() < low || value.get<std::int64_t>() > high) {
        return false;
    }
    target = static_cast<T>(value.get<std::int64_t>());
    return true;
}

} // namespace

Fault Fault::answer(std::string path, int status, Json body, std::optional<std::int64_t> count)
{
    Fault fault;
    fault.kind = Kind::status;
    fault.path = std::move(path);
    fault.status = status;
    fault.body = std::move(body);
    fault.count = count;
    return fault;
}

Fault Fault::delayed(std::string path, std::chrono::milliseconds delay, std::optional<std::int64_t> count)
{
    Fault fault;
    fault.kind = Kind::delay;
    fault.path = std::move(path);
    fault.delay = delay;
    fault.count = count;
    return fault;
}

Fault Fault::closing(std::string path, std::optional<std::int64_t> count)
{
    Fault fault;
    fault.kind = Kind::close;
    fault.path = std::move(path);
    fault.count = count;
    return fault;
}

Fault Fault::refusingPorts(int status, std::optional<std::int64_t> count)
{
    Fault fault;
    fault.kind = Kind::refusePorts;
    fault.status = status;
    fault.count = count;
    return fault;
}

Fault Fault::relay(Kind kind, std::optional<std::int64_t> count)
{
    Fault fault;
    fault.kind = kind;
    fault.count = count;
    return fault;
}

Fault Fault::malformedPacket(Malformed malformed, std::optional<std::int64_t> count)
{
    Fault fault = relay(Kind::relayMalformed, count);
    fault.malformed = malformed;
    return fault;
}

Fault Fault::rpc(std::string method, std::int64_t code, std::string message, std::optional<std::int64_t> count)
{
    Fault fault;
    fault.kind = Kind::rpcError;
    fault.method = std::move(method);
    fault.code = code;
    fault.message = std::move(message);
    fault.count = count;
    return fault;
}

Result<Fault> Fault::fromJson(const Json& json)
{
    if (!json.is_object() || !json.value("kind", Json()).is_string()) {
        return faultError("must be an object with a \"kind\" text");
    }
    const auto kind = valueOf(kKindNames, json["kind"].get<std::string>());
    if (!kind) {
        return faultError(fmt::format("unknown kind \"{}\"", json["kind"].get<std::string>()));
    }
    Fault fault;
    fault.kind = *kind;
    if (json.contains("path") && !json["path"].is_string()) {
        return faultError("\"path\" must be a text");
    }
    fault.path = json.value("path", std::string());
    fault.body = json.value("body", Json());
    std::int64_t count = 0;
    std::int64_t delayMs = 0;
    if (!readNumber(json, "status", 100, 599, fault.status) || !readNumber(json, "ms", 0, 600000, delayMs)
        || !readNumber(json, "bytes", 1, 64 * 1024 * 1024, fault.bytes)
        || !readNumber(json, "code", INT64_MIN, INT64_MAX, fault.code)) {
        return faultError("\"status\" (100-599), \"ms\" (0-600000), \"bytes\" (1-64 MiB) and \"code\" must be "
                          "whole numbers in range");
    }
    fault.delay = std::chrono::milliseconds(delayMs);
    if (json.contains("count") && !json["count"].is_null()) {
        if (!readNumber(json, "count", 1, INT64_MAX, count)) {
            return faultError("\"count\" must be a positive whole number or null");
        }
        fault.count = count;
    }
    if (json.contains("packet")) {
        const auto malformed =
            json["packet"].is_string() ? valueOf(kMalformedNames, json["packet"].get<std::string>()) : std::nullopt;
        if (!malformed) {
            return faultError("\"packet\" must be garbage, text, unknown_type, oversized or integer_type");
        }
        fault.malformed = *malformed;
    }
    if ((json.contains("method") && !json["method"].is_string())
        || (json.contains("message") && !json["message"].is_string())) {
        return faultError("\"method\" and \"message\" must be texts");
    }
    fault.method = json.value("method", std::string());
    fault.message = json.value("message", fault.message);
    return fault;
}

Json Fault::toJson() const
{
    Json json = {{"kind", nameOf(kKindNames, kind)}, {"count", count ? Json(*count) : Json()}};
    switch (kind) {
    case Kind::status:
    case Kind::refusePorts:
        json["path"] = path;
        json["status"] = status;
        json["body"] = body;
        break;
    case Kind::delay:
        json["path"] = path;
        json["ms"] = delay.count();
        break;
    case Kind::close:
        json["path"] = path;
        break;
    case Kind::relayMalformed:
        json["packet"] = nameOf(kMalformedNames, malformed);
        json["bytes"] = bytes;
        break;
    case Kind::rpcError:
        json["method"] = method;
        json["code"] = code;
        json["message"] = message;
        break;
    case Kind::relayDrop:
    case Kind::relayStall:
        break;
    }
    return json;
}

bool Fault::isRelayKind() const
{
    return kind == Kind::relayDrop || kind == Kind::relayStall || kind == Kind::relayMalformed;
}

Json Fault::answerBody() const
{
    if (!body.is_null()) {
        return body;
    }
    if (kind == Kind::refusePorts) {
        return {{"detail", "The device refused to open the port."}};
    }
    return {{"detail", fmt::format("Sandbox fault: status {}.", status)}};
}

} // namespace vantrel::sandbox
