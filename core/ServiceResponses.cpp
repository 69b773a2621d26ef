#include "core/ServiceResponses.h"

#include "core/CRUDHelper.h"
#include "core/ServiceKeys.h"

namespace vantrel {

RESTLoginResponse RESTLoginResponse::createFromDict(const Json& dictionary)
{
    RESTLoginResponse response;
    response.inflateFromDictionary(dictionary);
    return response;
}

void RESTLoginResponse::inflateFromDictionary(const Json& dictionary)
{
    msgToken = CRUDHelper::getValueForKey(FIELD_TOKEN, dictionary);
    msgAuthyToken = boolValueOf(CRUDHelper::getValueForKey(FIELD_2FA, dictionary));
}

Json RESTLoginResponse::toDictionary() const
{
    Json dictionary = Json::object();
    CRUDHelper::putValue(msgToken, FIELD_TOKEN, dictionary);
    return dictionary;
}

RESTVerifyTokenResponse RESTVerifyTokenResponse::createFromDict(const Json& dictionary)
{
    RESTVerifyTokenResponse response;
    response.inflateFromDictionary(dictionary);
    return response;
}

void RESTVerifyTokenResponse::inflateFromDictionary(const Json& dictionary)
{
    msgToken = CRUDHelper::getValueForKey(FIELD_TOKEN, dictionary);
    msgError = CRUDHelper::getValueForKey(FIELD_ERROR, dictionary);
}

Json RESTVerifyTokenResponse::toDictionary() const
{
    Json dictionary = Json::object();
    CRUDHelper::putValue(msgToken, FIELD_TOKEN, dictionary);
    return dictionary;
}

RESTPortsResponse RESTPortsResponse::createFromDict(const Json& dictionary)
{
    RESTPortsResponse response;
    response.inflateFromDictionary(dictionary);
    return response;
}

void RESTPortsResponse::inflateFromDictionary(const Json& dictionary)
{
    msgPort = CRUDHelper::getValueForKey(FIELD_PORT, dictionary);
    msgService = CRUDHelper::getValueForKey(FIELD_SERVICE, dictionary);
}

Json RESTPortsResponse::toDictionary() const
{
    Json dictionary = Json::object();
    CRUDHelper::putValue(msgPort, FIELD_PORT, dictionary);
    CRUDHelper::putValue(msgService, FIELD_SERVICE, dictionary);
    return dictionary;
}

} // namespace vantrel
