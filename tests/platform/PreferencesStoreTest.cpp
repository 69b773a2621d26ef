#include "platform/PreferencesStore.h"

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

namespace vantrel::platform {
namespace {

TEST(PreferencesStore, ValuesSurviveInTheFileForTheNextStore)
{
    testing::TempDirectory folder;
    const auto file = folder / "nested" / "com.corvane.Test.json";
    {
        PreferencesStore store(file);
        store.setValue("debugMode", true);
        store.setValue("rest_shell_user", {{"email", "a@b.c"}});
    }
    PreferencesStore reopened(file);
    EXPECT_EQ(reopened.value("debugMode"), true);
    EXPECT_EQ(reopened.value("rest_shell_user")["email"], "a@b.c");
    EXPECT_TRUE(reopened.value("missing").is_null());
}

TEST(PreferencesStore, NullRemovesAKeyAndRemoveAllDeletesTheFile)
{
    testing::TempDirectory folder;
    const auto file = folder / "prefs.json";
    PreferencesStore store(file);
    store.setValue("a", 1);
    store.setValue("b", 2);
    store.setValue("a", nullptr);
    EXPECT_TRUE(store.value("a").is_null());
    EXPECT_EQ(PreferencesStore(file).value("b"), 2);

    store.removeAll();
    EXPECT_TRUE(store.value("b").is_null());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(PreferencesStore, StoringTheSameValueAgainLeavesTheFileAlone)
{
    testing::TempDirectory folder;
    const auto file = folder / "prefs.json";
    PreferencesStore store(file);
    store.setValue("profile", {{"email", "a@b.c"}});
    std::filesystem::remove(file); // a write would bring it back
    store.setValue("profile", {{"email", "a@b.c"}});
    store.setValue("missing", nullptr);
    EXPECT_FALSE(std::filesystem::exists(file));
    store.setValue("profile", {{"email", "new@b.c"}});
    EXPECT_EQ(PreferencesStore(file).value("profile")["email"], "new@b.c");
}

TEST(PreferencesStore, DamagedOrForeignFilesReadAsEmptyWithOneLogLine)
{
    const std::vector<std::string> contents = {"{\"a\": 1", "[1, 2]", "\"text\"", std::string("\xff\xfe\0x", 4), ""};
    for (const std::string& content : contents) {
        SCOPED_TRACE(content);
        testing::TempDirectory folder;
        const auto file = folder / "prefs.json";
        std::ofstream(file) << content;
        std::vector<std::string> lines;
        LogCapture capture([&lines](std::string_view line) { lines.emplace_back(line); });
        PreferencesStore store(file);
        EXPECT_TRUE(store.value("a").is_null());
        EXPECT_EQ(lines.size(), 1u);
        store.setValue("a", 2); // a damaged file is replaced by the first write
        EXPECT_EQ(PreferencesStore(file).value("a"), 2);
    }
}

} // namespace
} // namespace vantrel::platform
