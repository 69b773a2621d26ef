#include "tests/coredata/DeviceStoreFixture.h"

#include "core/CoreData/PersistentStoreCoordinator.h"
#include "core/CoreData/StoreError.h"
#include "core/CoreData/StoreSchema.h"

#include "platform/Log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace vantrel::testing {
namespace {

using Device = LocalRESTShellDevice;

// The store as the first released layout wrote it.
constexpr const char* kFirstLayout = R"(
    CREATE TABLE LocalRESTShellDevice (id INTEGER PRIMARY KEY, agent_version TEXT, device_description TEXT,
        created_time TEXT, disk_capacity, disk_used, machine_type TEXT, machine_type_display TEXT,
        machine_type_short_display TEXT, name TEXT, online INTEGER, online_state INTEGER, operating_system TEXT,
        ports_url TEXT, processor_speed, ram_capacity, reboot_url TEXT, uname TEXT, url TEXT, serial TEXT,
        wormhole_slug TEXT, diagnostics_permitted INTEGER, tools_permitted INTEGER, wormhole_enabled INTEGER,
        upgrade_agent TEXT, port_forwarding_ports TEXT, entity_index INTEGER, forwarding_permitted INTEGER);
    INSERT INTO LocalRESTShellDevice (serial, name, device_description, online, online_state, entity_index,
        disk_capacity, port_forwarding_ports)
        VALUES ('S-1', 'Årebo', 'north', 1, 2, 1, 32000000000, '[' || char(10) || '  22' || char(10) || ']'),
               ('S-2', 'plain', NULL, 0, 1, 2, NULL, NULL);
    PRAGMA user_version = 1;
)";

/** The first value of a fixed query, read as text by a connection of its own. */
std::string queryText(const std::filesystem::path& file, const char* sql)
{
    sqlite3* connection = nullptr;
    sqlite3_open(file.c_str(), &connection);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(connection, sql, -1, &statement, nullptr);
    std::string value;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(connection);
    return value;
}

void writeFile(const std::filesystem::path& file, const std::string& bytes)
{
    std::ofstream(file, std::ios::binary) << bytes;
}

class StoreFile : public DeviceStoreFixture {
protected:
    std::filesystem::path storeFile() const { return documents / DB_NAME; }
};

TEST_F(StoreFile, AStoreOfTheFirstLayoutOpensWithItsRows)
{
    executeSql(storeFile(), kFirstLayout);

    const auto devices = Device::getAllInContext(mainContext());
    EXPECT_EQ(manager->persistentStoreCoordinator()->status(), StoreStatus::opened);
    ASSERT_EQ(serialsOf(devices), (std::vector<std::string> {"S-1", "S-2"}));
    EXPECT_EQ(devices[0].name, "Årebo");
    EXPECT_EQ(devices[0].online_state, 2);
    EXPECT_EQ(devices[0].toMessage().msgDiskCapacity, 32000000000);
    EXPECT_EQ(devices[0].toMessage().msgPortForwardingPorts, Json({22}));
    EXPECT_EQ(queryText(storeFile(), "PRAGMA user_version"), "2");
    EXPECT_EQ(queryText(storeFile(), "PRAGMA journal_mode"), "wal");
    // The search columns added by the migration were filled for the rows already there.
    EXPECT_EQ(serialsOf(Device::getByQuery("ARE", mainContext())), (std::vector<std::string> {"S-1"}));

    replaceCache(Json::array({deviceMessage("S-3", "new")}));
    EXPECT_EQ(serialsOf(Device::getAllInContext(mainContext())), (std::vector<std::string> {"S-3"}));
}

TEST_F(StoreFile, AFileThatIsNotAUsableStoreIsMadeAnew)
{
    const struct {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
    } cases[] = {
        {"not a database",
         [](const auto& file) {
             writeFile(file, std::string(4096, 'x'));
         }},
        {"another database",
         [](const auto& file) {
             executeSql(file, "CREATE TABLE notes (text TEXT);");
         }},
        {"a newer layout",
         [](const auto& file) {
             executeSql(file, "PRAGMA user_version = 99;");
         }},
        {"the current version without the table",
         [](const auto& file) {
             executeSql(file, "CREATE TABLE other (x); PRAGMA user_version = 2;");
         }},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        TempDirectory folder;
        entry.make(folder / DB_NAME);
        CoreDataManager recovering(folder.path());
        std::vector<std::string> logged;
        {
            LogCapture capture([&logged](std::string_view line) { logged.emplace_back(line); });
            EXPECT_TRUE(Device::getAllInContext(recovering.managedObjectContext()).empty());
        }
        EXPECT_EQ(recovering.persistentStoreCoordinator()->status(), StoreStatus::recreated);
        ASSERT_FALSE(logged.empty());
        EXPECT_EQ(logged.front().rfind("Unresolved error ", 0), 0U) << logged.front();

        ASSERT_TRUE(
            Device::devicesFromMessages(Json::array({deviceMessage("S", "s")}), recovering.managedObjectContext())
                .ok());
        EXPECT_EQ(Device::getAllInContext(recovering.managedObjectContext()).size(), 1U);
        EXPECT_EQ(queryText(folder / DB_NAME, "PRAGMA user_version"), std::to_string(StoreSchema::kCurrentVersion));
    }
}

TEST_F(StoreFile, WithoutAPlaceForTheStoreTheCacheWorksEmpty)
{
    const struct {
        const char* name;
        const char* obstacle; // what stands in the way, inside the test's folder
        std::function<std::filesystem::path(const TempDirectory&)> documentsFolder;
        StoreStatus status;
    } cases[] = {
        {"a file stands where the folder must be", "Documents",
         [](const TempDirectory& folder) {
             writeFile(folder / "Documents", "not a folder");
             return folder / "Documents";
         },
         StoreStatus::unavailable},
        {"a folder stands where the store must be", "Corvane.sqlite/content",
         [](const TempDirectory& folder) {
             std::filesystem::create_directories(folder / DB_NAME / "content");
             return folder.path();
         },
         StoreStatus::undeletable},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        TempDirectory folder;
        CoreDataManager storeless(entry.documentsFolder(folder));
        std::vector<std::string> logged;
        LogCapture capture([&logged](std::string_view line) { logged.emplace_back(line); });

        ManagedObjectContext& context = storeless.managedObjectContext();
        EXPECT_EQ(storeless.persistentStoreCoordinator()->status(), entry.status);
        EXPECT_FALSE(context.hasStore());
        EXPECT_TRUE(Device::getAllInContext(context).empty());
        EXPECT_TRUE(Device::getByQuery("a", context).empty());
        logged.clear();
        auto stored = Device::devicesFromMessages(Json::array({deviceMessage("S", "s")}), context);
        ASSERT_FALSE(stored.ok());
        EXPECT_TRUE(isStoreError(stored.error(), StoreErrorCode::noStore));
        ASSERT_EQ(logged.size(), 1U);
        EXPECT_EQ(logged.front().rfind("Unresolved error ", 0), 0U) << logged.front();

        storeless.clearAllData();
        EXPECT_TRUE(Device::getAllInContext(storeless.managedObjectContext()).empty());
        EXPECT_TRUE(std::filesystem::exists(folder / entry.obstacle)) << "nothing in the way was removed";
    }
}

TEST_F(StoreFile, ClearAllDataDeletesTheFileAndTheNextUseStartsEmpty)
{
    replaceCache(Json::array({deviceMessage("A", "a"), deviceMessage("B", "b")}));
    ManagedObjectContext background(manager->persistentStoreCoordinator());
    ASSERT_EQ(Device::getAllInContext(background).size(), 2U);

    manager->clearAllData();
    for (const char* suffix : {"", "-wal", "-shm"}) {
        EXPECT_FALSE(std::filesystem::exists(storeFile().string() + suffix)) << suffix;
    }
    // A context bound before the clear has lost its store; it neither reads the old rows nor makes a file.
    EXPECT_FALSE(background.hasStore());
    EXPECT_TRUE(Device::getAllInContext(background).empty());
    EXPECT_FALSE(Device::uspertRawDevice(deviceMessage("C", "c"), background, true).ok());
    EXPECT_FALSE(std::filesystem::exists(storeFile()));

    EXPECT_TRUE(Device::getAllInContext(mainContext()).empty());
    EXPECT_TRUE(std::filesystem::exists(storeFile()));
    EXPECT_EQ(manager->persistentStoreCoordinator()->status(), StoreStatus::opened);
}

TEST_F(StoreFile, ClearAllDataBeforeAnyUseRemovesTheStoreOfAnEarlierRun)
{
    {
        CoreDataManager earlierRun(documents.path());
        ASSERT_TRUE(
            Device::devicesFromMessages(Json::array({deviceMessage("A", "a")}), earlierRun.managedObjectContext())
                .ok());
    }
    manager->clearAllData();
    EXPECT_FALSE(std::filesystem::exists(storeFile()));
    EXPECT_TRUE(Device::getAllInContext(mainContext()).empty());
}

} // namespace
} // namespace vantrel::testing
