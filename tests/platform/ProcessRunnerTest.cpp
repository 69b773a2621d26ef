#include "platform/ProcessRunner.h"

#include <gtest/gtest.h>

namespace vantrel::platform {
namespace {

TEST(ProcessRunner, CollectsStandardOutputAndExitStatus)
{
    const auto outcome = runProcess("/bin/sh", {"-c", "printf 'one two'; exit 3"});
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->standardOutput, "one two");
    EXPECT_EQ(outcome->exitStatus, 3);
}

TEST(ProcessRunner, AProgramThatDoesNotExistGivesNothing)
{
    EXPECT_FALSE(runProcess("/nonexistent/program", {}));
}

} // namespace
} // namespace vantrel::platform
