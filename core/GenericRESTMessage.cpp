#include "core/GenericRESTMessage.h"

namespace vantrel {

GenericRESTMessage& GenericRESTMessage::addParam(const JsonField& value, const std::string& key)
{
    if (!params) {
        params = Json::object();
    }
    if (isPresent(value)) {
        (*params)[key] = value;
    }
    return *this;
}

} // namespace vantrel
