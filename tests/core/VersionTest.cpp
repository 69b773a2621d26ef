#include "core/AppVersion.h"
#include "core/iOSVersion.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(AppVersion, ComparesTwoNumericComponents)
{
    struct Case {
        const char* self;
        const char* other;
        bool olderOrEqual;
    };
    const Case cases[] = {
        {"1.4", "1.5", true},  {"1.5", "1.5", true},   {"1.10", "1.9", false}, {"2.0", "1.9", false},
        {"1.4.1", "1.5", false}, {"", "1.5", false},  {"1.5", "", false},     {"1.x", "1.0", true},
        {"1", "1", false},     {"1.9", "1.10", true}, {"1.", "1.0", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AppVersion(c.self).compare(c.other), c.olderOrEqual) << c.self << " vs " << c.other;
    }
}

TEST(iOSVersion, CompatibleUnlessNewerInBuildOrVersion)
{
    const auto record = [](const char* version, const char* build) { return iOSVersion{version, build}; };
    EXPECT_FALSE(record("1.5", "10").checkCompatibility(record("1.5", "9")));
    EXPECT_TRUE(record("1.5", "9").checkCompatibility(record("1.5", "10")));
    EXPECT_FALSE(record("1.6", "9").checkCompatibility(record("1.5", "9")));
    EXPECT_TRUE(record("garbage", "9").checkCompatibility(record("1.5", "9")));
}

TEST(iOSVersion, DictionaryHoldsOnlyPresentMembers)
{
    const auto version = iOSVersion::createFromDictionary({{"version", "1.6"}, {"build", nullptr}});
    EXPECT_EQ(version.toDictionary(), (Json{{"version", "1.6"}}));
}

} // namespace
} // namespace vantrel
