#pragma once

#include "core/CoreData/CoreDataManager.h"
#include "core/CoreData/LocalRESTShellDevice.h"
#include "core/CoreData/ManagedObjectContext.h"
#include "core/JsonValue.h"

#include "tests/support/MainQueueFixture.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::testing {

/** A device object as the service's device list has it: a serial and a name, plus any other members. */
inline Json deviceMessage(const std::string& serial, const std::string& name, Json members = Json::object())
{
    members["serial"] = serial;
    members["name"] = name;
    return members;
}

inline std::vector<std::string> serialsOf(const std::vector<LocalRESTShellDevice>& devices)
{
    std::vector<std::string> serials;
    for (const auto& device : devices) {
        serials.push_back(device.serial.value_or("<none>"));
    }
    return serials;
}

/** Runs fixed SQL on a file with a connection of its own, as another program would; fails the test on error. */
inline void executeSql(const std::filesystem::path& file, const char* sql)
{
    sqlite3* connection = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &connection), SQLITE_OK);
    char* message = nullptr;
    const int code = sqlite3_exec(connection, sql, nullptr, nullptr, &message);
    const std::string text = message != nullptr ? message : "";
    sqlite3_free(message);
    sqlite3_close(connection);
    ASSERT_EQ(code, SQLITE_OK) << text;
}

/** A store in a fresh documents folder, with a main queue on the test's thread. */
class DeviceStoreFixture : public ::testing::Test {
protected:
    ManagedObjectContext& mainContext() { return manager->managedObjectContext(); }

    /** Replaces the cache in the main context as the device loader does after an answer. */
    std::vector<LocalRESTShellDevice> replaceCache(const Json& answer)
    {
        EXPECT_TRUE(LocalRESTShellDevice::clearInContext(mainContext()).ok());
        auto stored = LocalRESTShellDevice::devicesFromMessages(answer, mainContext());
        EXPECT_TRUE(stored.ok()) << (stored.ok() ? "" : stored.error().text());
        return stored.ok() ? stored.value() : std::vector<LocalRESTShellDevice>();
    }

    TempDirectory documents;
    MainQueueFixture mainQueue;
    std::unique_ptr<CoreDataManager> manager = std::make_unique<CoreDataManager>(documents.path());
};

} // namespace vantrel::testing
