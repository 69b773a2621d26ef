#include "core/iOSVersion.h"

#include "core/CRUDHelper.h"
#include "core/ServiceKeys.h"

#include "platform/ProgramInfo.h"

#include <charconv>

namespace vantrel {
namespace {

double decimalValue(const JsonField& field)
{
    const auto text = textOf(field);
    if (!text || text->empty()) {
        return 0;
    }
    double value = 0;
    const char* begin = text->data();
    const char* end = begin + text->size();
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::fixed);
    return error == std::errc() && stop == end ? value : 0;
}

} // namespace

iOSVersion iOSVersion::createFromDictionary(const Json& dictionary)
{
    return iOSVersion{CRUDHelper::getValueForKey(FIELD_VERSION, dictionary),
                      CRUDHelper::getValueForKey(FIELD_BUILD, dictionary)};
}

Json iOSVersion::toDictionary() const
{
    Json dictionary = Json::object();
    CRUDHelper::putObject(msgVersion, FIELD_VERSION, dictionary);
    CRUDHelper::putObject(msgBuild, FIELD_BUILD, dictionary);
    return dictionary;
}

iOSVersion iOSVersion::getCurrentVersion()
{
    const platform::ProgramInfo& program = platform::currentProgram();
    return iOSVersion{program.shortVersion, program.build};
}

bool iOSVersion::checkCompatibility(const iOSVersion& other) const
{
    if (decimalValue(msgBuild) > decimalValue(other.msgBuild)) {
        return false;
    }
    return !(decimalValue(msgVersion) > decimalValue(other.msgVersion));
}

} // namespace vantrel
