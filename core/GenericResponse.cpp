#include "core/GenericResponse.h"

#include "core/CRUDHelper.h"

namespace vantrel {

GenericResponse GenericResponse::createFromDictionary(const Json& dictionary)
{
    GenericResponse response;
    response.fillFromDictionary(dictionary);
    return response;
}

void GenericResponse::fillFromDictionary(const Json& dictionary)
{
    RPCMessage::fillFromDictionary(dictionary);
    result = CRUDHelper::getValueForKey(FIELD_RESULT, dictionary);
}

} // namespace vantrel
