#include "core/GenericMessage.h"

#include <utility>

namespace vantrel {

GenericMessage GenericMessage::initWithMethod(std::string method)
{
    GenericMessage message;
    message.method = std::move(method);
    return message;
}

GenericMessage& GenericMessage::addParam(const JsonField& value, const std::string& key)
{
    if (!params) {
        params = Json::object();
    }
    if (isPresent(value)) {
        (*params)[key] = value;
    }
    return *this;
}

Json GenericMessage::toDictionary() const
{
    Json dictionary = RPCMessage::toDictionary();
    dictionary[FIELD_METHOD] = method;
    if (params) {
        dictionary[FIELD_PARAMS] = *params;
    }
    return dictionary;
}

} // namespace vantrel
