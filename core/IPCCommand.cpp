#include "core/IPCCommand.h"

#include "core/CRUDHelper.h"

#include "platform/Log.h"

namespace vantrel {
namespace {

constexpr const char* kCodeKey = "code";
constexpr const char* kDataTypeKey = "data_type";
constexpr const char* kDataKey = "data";

} // namespace

Json IPCCommand::toDictionary() const
{
    Json dictionary = Json::object();
    CRUDHelper::putValue(code, kCodeKey, dictionary);
    CRUDHelper::putValue(dataType, kDataTypeKey, dictionary);
    CRUDHelper::putValue(data, kDataKey, dictionary);
    return dictionary;
}

std::optional<std::string> IPCCommand::serialize() const
{
    try {
        return toPrettyJson(toDictionary());
    } catch (const Json::exception& error) {
        logFormat("Got an error: {}", error.what());
        return std::nullopt;
    }
}

IPCCommand IPCCommand::createFromDict(const Json& dictionary)
{
    IPCCommand command;
    command.inflateFromDictionary(dictionary);
    return command;
}

void IPCCommand::inflateFromDictionary(const Json& dictionary)
{
    code = CRUDHelper::getValueForKey(kCodeKey, dictionary);
    dataType = CRUDHelper::getValueForKey(kDataTypeKey, dictionary);
    data = CRUDHelper::getValueForKey(kDataKey, dictionary);
}

IPCCommand IPCCommand::fromString(std::string_view text)
{
    const std::optional<Json> parsed = parseJson(text);
    return createFromDict(parsed.value_or(Json()));
}

} // namespace vantrel
