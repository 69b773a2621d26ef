#include "core/CoreData/StoreSchema.h"

#include "core/CoreData/DeviceTable.h"
#include "core/CoreData/StoreConnection.h"
#include "core/CoreData/StoreError.h"

#include <array>
#include <string>

namespace vantrel {
namespace {

// kSteps[v] takes a store from version v to v + 1 and records the new version.
constexpr std::array<const char*, StoreSchema::kCurrentVersion> kSteps {
    // Numbers keep their kind (integer or floating point) as sent, so their columns declare no type.
    "CREATE TABLE LocalRESTShellDevice ("
    " id INTEGER PRIMARY KEY,"
    " agent_version TEXT,"
    " device_description TEXT,"
    " created_time TEXT,"
    " disk_capacity,"
    " disk_used,"
    " machine_type TEXT,"
    " machine_type_display TEXT,"
    " machine_type_short_display TEXT,"
    " name TEXT,"
    " online INTEGER,"
    " online_state INTEGER,"
    " operating_system TEXT,"
    " ports_url TEXT,"
    " processor_speed,"
    " ram_capacity,"
    " reboot_url TEXT,"
    " uname TEXT,"
    " url TEXT,"
    " serial TEXT,"
    " wormhole_slug TEXT,"
    " diagnostics_permitted INTEGER,"
    " tools_permitted INTEGER,"
    " wormhole_enabled INTEGER,"
    " upgrade_agent TEXT,"
    " port_forwarding_ports TEXT,"
    " entity_index INTEGER,"
    " forwarding_permitted INTEGER);"
    "PRAGMA user_version = 1;",

    "ALTER TABLE LocalRESTShellDevice ADD COLUMN search_name TEXT;"
    "ALTER TABLE LocalRESTShellDevice ADD COLUMN search_description TEXT;"
    "UPDATE LocalRESTShellDevice SET search_name = fold_for_search(name),"
    " search_description = fold_for_search(device_description);"
    "CREATE INDEX LocalRESTShellDevice_serial ON LocalRESTShellDevice (serial);"
    // Ordered like the lists and narrow enough that a search scans it instead of the rows.
    "CREATE INDEX LocalRESTShellDevice_search"
    " ON LocalRESTShellDevice (entity_index, search_name, search_description);"
    "PRAGMA user_version = 2;",
};

Result<std::int64_t> readableVersion(StoreConnection& connection)
{
    auto version = connection.queryInteger("PRAGMA user_version");
    if (!version) {
        return storeError(StoreErrorCode::cannotOpen, "The device store cannot be read", version.error());
    }
    if (version.value() > StoreSchema::kCurrentVersion || version.value() < 0) {
        return storeError(StoreErrorCode::wrongSchema, "The device store was written by a newer version");
    }
    if (version.value() == 0) {
        auto objects = connection.queryInteger("SELECT count(*) FROM sqlite_master");
        if (!objects) {
            return storeError(StoreErrorCode::cannotOpen, "The device store cannot be read", objects.error());
        }
        if (objects.value() != 0) {
            return storeError(StoreErrorCode::wrongSchema, "The file is not a device store");
        }
    }
    return version;
}

Result<void> runSteps(StoreConnection& connection)
{
    // Read again inside the write transaction: another program may have migrated the file meanwhile.
    auto version = readableVersion(connection);
    if (!version) {
        return version.error();
    }
    for (std::int64_t from = version.value(); from < StoreSchema::kCurrentVersion; ++from) {
        if (auto stepped = connection.execute(kSteps[static_cast<std::size_t>(from)]); !stepped) {
            return storeError(StoreErrorCode::migration,
                              "The device store cannot be brought up to version " + std::to_string(from + 1),
                              stepped.error());
        }
    }
    return {};
}

} // namespace

Result<void> StoreSchema::migrate(StoreConnection& connection)
{
    auto version = readableVersion(connection);
    if (!version) {
        return version.error();
    }
    if (version.value() == kCurrentVersion) {
        return {};
    }
    if (auto begun = connection.execute("BEGIN IMMEDIATE"); !begun) {
        return storeError(StoreErrorCode::migration, "The device store cannot be locked for an update", begun.error());
    }
    auto migrated = runSteps(connection);
    if (!migrated) {
        (void)connection.execute("ROLLBACK");
        return migrated;
    }
    if (auto committed = connection.execute("COMMIT"); !committed) {
        (void)connection.execute("ROLLBACK");
        return storeError(StoreErrorCode::migration, "The updated device store cannot be saved", committed.error());
    }
    return {};
}

Result<void> StoreSchema::prepareStore(const std::filesystem::path& file)
{
    auto connection = StoreConnection::open(file);
    if (!connection) {
        return storeError(StoreErrorCode::cannotOpen, "The device store cannot be opened", connection.error());
    }
    if (auto logged = connection.value()->execute("PRAGMA journal_mode = WAL"); !logged) {
        return storeError(StoreErrorCode::cannotOpen, "The device store cannot be read", logged.error());
    }
    if (auto migrated = migrate(*connection.value()); !migrated) {
        return migrated;
    }
    if (auto table = DeviceTable::prepare(*connection.value()); !table) {
        return storeError(StoreErrorCode::wrongSchema, "The device store does not have the expected table",
                          table.error());
    }
    return {};
}

} // namespace vantrel
