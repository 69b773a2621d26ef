#include "core/IPCCommand.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(IPCCommand, ForwardsCommandRoundTripsItsDataUnchanged)
{
    IPCCommand command;
    command.code = IPCCommand::kSetData;
    command.data = R"({"ID":{"id":"ID","local_port":"8022"}})" "\n\t\"quoted\" \\ ünïcode";
    const auto text = command.serialize();
    ASSERT_TRUE(text);
    EXPECT_EQ(parseJson(*text)->size(), 2u); // exactly "code" and "data"
    EXPECT_NE(text->find('\n'), std::string::npos); // pretty-printed

    const IPCCommand received = IPCCommand::fromString(*text);
    EXPECT_EQ(received.code, 101);
    EXPECT_EQ(received.data, command.data);
    EXPECT_FALSE(isPresent(received.dataType));
}

TEST(IPCCommand, UnreadableTextGivesACommandWithoutCode)
{
    for (const char* text : {"not json", "[199]", "\"text\"", "", R"({"code": null, "data": null})"}) {
        const IPCCommand command = IPCCommand::fromString(text);
        EXPECT_FALSE(isPresent(command.code)) << text;
        EXPECT_FALSE(isPresent(command.data)) << text;
    }
}

} // namespace
} // namespace vantrel
