#include "core/NotificationCenter.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace vantrel {
namespace {

TEST(NotificationCenter, DeliversByNameInOrderWithTheObject)
{
    NotificationCenter center;
    std::vector<std::string> seen;
    auto first = center.addObserver(nSetText, [&seen](const Notification& n) {
        seen.push_back("first:" + std::get<std::string>(n.object));
    });
    auto second = center.addObserver(nSetText, [&seen](const Notification& n) {
        seen.push_back("second:" + std::get<std::string>(n.object));
    });
    auto other = center.addObserver(nShowProgress, [&seen](const Notification&) { seen.emplace_back("show"); });
    center.post(nSetText, std::string("caption"));
    EXPECT_EQ(seen, (std::vector<std::string>{"first:caption", "second:caption"}));
}

TEST(NotificationCenter, AnEndedRegistrationReceivesNothingAndMayEndInsideItsCallback)
{
    NotificationCenter center;
    int calls = 0;
    std::optional<NotificationCenter::Registration> registration;
    registration = center.addObserver(nHideProgress, [&](const Notification&) {
        ++calls;
        registration.reset();
    });
    center.post(nHideProgress);
    center.post(nHideProgress);
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace vantrel
