#include "core/RPCMessage.h"

#include "core/CRUDHelper.h"

namespace vantrel {

RPCMessage RPCMessage::fromDictionary(const Json& dictionary)
{
    RPCMessage message;
    message.fillFromDictionary(dictionary);
    return message;
}

void RPCMessage::fillFromDictionary(const Json& dictionary)
{
    cacheToken = CRUDHelper::getValueForKey(FIELD_CACHE_TOKEN, dictionary);
    callId = CRUDHelper::getValueForKey(FIELD_ID, dictionary);
    rpcVersion = CRUDHelper::getValueForKey(FIELD_RPC_VERIOS, dictionary);
    cached = boolValueOf(CRUDHelper::getValueForKey(FIELD_CACHED, dictionary));
}

Json RPCMessage::toDictionary() const
{
    Json dictionary = Json::object();
    CRUDHelper::putObject(cacheToken, FIELD_CACHE_TOKEN, dictionary);
    CRUDHelper::putObject(callId, FIELD_ID, dictionary);
    CRUDHelper::putObject(rpcVersion, FIELD_RPC_VERIOS, dictionary);
    dictionary[FIELD_CACHED] = cached;
    return dictionary;
}

} // namespace vantrel
