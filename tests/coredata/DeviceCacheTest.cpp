#include "tests/coredata/DeviceStoreFixture.h"

#include "core/CoreData/PersistentStoreCoordinator.h"
#include "core/CoreData/StoreError.h"

#include "platform/Log.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vantrel::testing {
namespace {

using Device = LocalRESTShellDevice;

class DeviceCache : public DeviceStoreFixture { };

TEST_F(DeviceCache, AnAnswerReplacesTheCacheInAnswerOrder)
{
    // A appears twice: its second occurrence wins, but keeps the ports text that only the first one carried.
    const Json answer = Json::array({
        deviceMessage("A", "first", {{"online", false}, {"port_forwarding_ports", {22, 80}}}),
        deviceMessage("B", "bee"),
        deviceMessage("A", "second", {{"online", true}}),
        deviceMessage("C", "sea", {{"online", false}, {"port_forwarding_ports", nullptr}}),
        {{"serial", "D"}, {"name", nullptr}, {"online", 1}},
    });
    replaceCache(Json::array({deviceMessage("OLD", "old")}));
    const std::vector<Device> returned = replaceCache(answer);

    EXPECT_EQ(serialsOf(returned), (std::vector<std::string> {"A", "B", "A", "C", "D"}));
    ASSERT_EQ(returned.size(), 5U);
    EXPECT_EQ(returned[0], returned[2]) << "a repeated device is returned as it ends up";

    struct Expected {
        std::string serial;
        std::int64_t entityIndex;
        std::int64_t onlineState;
        std::optional<std::string> name;
        std::optional<std::string> ports;
    };
    const std::vector<Expected> expected {
        {"B", 2, 1, "bee", std::nullopt},
        {"A", 3, 2, "second", "[\n  22,\n  80\n]"},
        {"C", 4, 1, "sea", std::nullopt},
        {"D", 5, 2, std::nullopt, std::nullopt},
    };
    const std::vector<Device> cached = Device::getAllInContext(mainContext());
    ASSERT_EQ(cached.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].serial);
        EXPECT_EQ(cached[i].serial, expected[i].serial);
        EXPECT_EQ(cached[i].entity_index, expected[i].entityIndex);
        EXPECT_EQ(cached[i].online_state, expected[i].onlineState);
        EXPECT_EQ(cached[i].name, expected[i].name);
        EXPECT_EQ(cached[i].port_forwarding_ports, expected[i].ports);
    }
    EXPECT_EQ(cached[1].toMessage().msgPortForwardingPorts, Json({22, 80}));
    EXPECT_FALSE(isPresent(cached[2].toMessage().msgPortForwardingPorts));
    EXPECT_EQ(Device::getLastIndexInContext(mainContext()), 5);

    // After a clear, numbering starts again at 1; an empty answer leaves an empty cache.
    replaceCache(Json::array({deviceMessage("E", "e")}));
    const auto single = Device::getAllInContext(mainContext());
    ASSERT_EQ(single.size(), 1U);
    EXPECT_EQ(single[0].entity_index, 1);
    replaceCache(Json::array());
    EXPECT_TRUE(Device::getAllInContext(mainContext()).empty());
}

TEST_F(DeviceCache, EveryMemberSurvivesTheStoreIntoTheDeviceRecord)
{
    const Json full = Json::parse(R"({
        "agent_version": "2.1", "description": "desk", "created_time": "2024-01-02T03:04:05Z",
        "disk_capacity": 16000000000, "disk_used": 1.5, "machine_type": "rpi_3b",
        "machine_type_display": "Raspberry Pi 3 B", "machine_type_short_display": "Pi 3B", "name": "kitchen",
        "online": true, "operating_system": "Linux", "ports_url": "https://ports", "processor_speed": 1200,
        "ram_capacity": 0.5, "reboot_url": "https://reboot", "uname": "Linux kitchen 6.1", "url": "https://device",
        "serial": "S-1", "wormhole_slug": "slug", "diagnostics_permitted": false, "tools_permitted": true,
        "wormhole_enabled": false, "upgrade": "2.2", "port_forwarding_ports": [-1],
        "unknown_member": "ignored"})");
    // Members of a kind their attribute cannot hold are left absent rather than guessed at.
    const Json oddKinds = {{"serial", "S-2"}, {"name", 42}, {"disk_used", "a lot"}, {"online", "yes"}};
    ASSERT_TRUE(Device::devicesFromMessages(Json::array({full, oddKinds}), mainContext()).ok());

    // Read through a second context: what it finds is in the file, not only in the main context.
    ManagedObjectContext reader(manager->persistentStoreCoordinator());
    const auto stored = Device::getBySerial("S-1", reader);
    ASSERT_TRUE(stored.has_value());
    RESTShellDevice expected = RESTShellDevice::createFromDict(full);
    expected.msgUpgradeAgent = "2.2";
    EXPECT_EQ(stored->toMessage(), expected);
    EXPECT_EQ(stored->toMessage().toDictionary().dump(), expected.toDictionary().dump()) << "number kinds kept";
    EXPECT_EQ(Device::toMessages({*stored, *stored}), (std::vector<RESTShellDevice> {expected, expected}));

    const auto odd = Device::getBySerial("S-2", reader);
    ASSERT_TRUE(odd.has_value());
    EXPECT_FALSE(odd->name.has_value());
    EXPECT_FALSE(isPresent(odd->disk_used));
    EXPECT_FALSE(odd->online.has_value());
    EXPECT_EQ(odd->online_state, 1);
    EXPECT_FALSE(Device::getBySerial("S-3", reader).has_value());
}

TEST_F(DeviceCache, SearchIgnoresCaseAndDiacriticsInAnyScript)
{
    replaceCache(Json::array({
        deviceMessage("arebo", "Årebo", {{"description", "north hub"}}),
        deviceMessage("strasse", "Straße 5", {{"description", "Müller's Pi"}}),
        deviceMessage("istanbul", "İstanbul edge"),
        deviceMessage("greek", "Ωmega", {{"description", "ΣΊΣΥΦΟΣ"}}),
        deviceMessage("uptime", "plain", {{"description", "100% uptime"}}),
        {{"serial", "nameless"}},
    }));
    const struct {
        const char* query;
        std::vector<std::string> serials;
    } cases[] = {
        {"are", {"arebo"}},
        {"ÅRE", {"arebo"}},
        {"NORTH", {"arebo"}},
        {"STRASSE", {"strasse"}},
        {"müller", {"strasse"}},
        {"MULLER'S", {}}, // the apostrophe goes from the query only: "mullers" is not in "muller's"
        {"istanbul", {"istanbul"}},
        {"σίσυφος", {"greek"}},
        {"ωMEGA", {"greek"}},
        {"100%", {"uptime"}},
        {"E", {"arebo", "strasse", "istanbul", "greek", "uptime"}},
        {"'%", {"arebo", "strasse", "istanbul", "greek", "uptime"}},
        {"zzz", {}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.query);
        const std::vector<Device> found = Device::getByQuery(entry.query, mainContext());
        EXPECT_EQ(serialsOf(found), entry.serials);
        std::vector<std::int64_t> objectIDs;
        for (const Device& device : found) {
            objectIDs.push_back(device.objectID);
        }
        EXPECT_EQ(Device::getObjectIDsByQuery(entry.query, mainContext()), objectIDs) << "the same search by index";
    }
}

TEST_F(DeviceCache, ChangesStayInTheirContextUntilSaved)
{
    replaceCache(Json::array({deviceMessage("A", "a"), deviceMessage("B", "b")}));
    ManagedObjectContext other(manager->persistentStoreCoordinator());

    ASSERT_TRUE(Device::clearInContext(mainContext()).ok());
    EXPECT_TRUE(mainContext().hasChanges());
    EXPECT_TRUE(Device::getAllInContext(mainContext()).empty());
    EXPECT_EQ(Device::getAllInContext(other).size(), 2U);
    mainContext().rollback();
    EXPECT_FALSE(mainContext().hasChanges());
    EXPECT_EQ(Device::getAllInContext(mainContext()).size(), 2U);

    // Written without saving, then saved by a second write with the flag: the other context sees both at once.
    ASSERT_TRUE(Device::uspertRawDevice(deviceMessage("C", "c"), mainContext(), false).ok());
    EXPECT_EQ(Device::getAllInContext(other).size(), 2U);
    auto updated = Device::uspertRawDevice(deviceMessage("A", "renamed"), mainContext(), true);
    ASSERT_TRUE(updated.ok());
    EXPECT_EQ(updated.value().entity_index, 1) << "an update keeps what the message does not carry";
    EXPECT_EQ(serialsOf(Device::getAllInContext(other)), (std::vector<std::string> {"C", "A", "B"}));
    EXPECT_EQ(Device::getBySerial("A", other)->name, "renamed");

    ASSERT_TRUE(Device::markDeviceOnline(2, "B", mainContext()).ok());
    EXPECT_EQ(Device::getBySerial("B", other)->online_state, 2);
    EXPECT_FALSE(mainContext().hasChanges());
}

TEST_F(DeviceCache, AReplacementThatFailsKeepsTheLastSavedCache)
{
    replaceCache(Json::array({deviceMessage("A", "a"), deviceMessage("B", "b")}));
    const struct {
        const char* name;
        Json answer;
    } cases[] = {
        {"an object", {{"serial", "X"}}},
        {"null", Json()},
        {"an entry that is not a device", Json::array({deviceMessage("X", "x"), 42})},
    };
    std::vector<std::string> logged;
    LogCapture capture([&logged](std::string_view line) { logged.emplace_back(line); });
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        ASSERT_TRUE(Device::clearInContext(mainContext()).ok());
        auto stored = Device::devicesFromMessages(entry.answer, mainContext());
        ASSERT_FALSE(stored.ok());
        EXPECT_TRUE(isStoreError(stored.error(), StoreErrorCode::badAnswer));
        EXPECT_FALSE(mainContext().hasChanges());
        EXPECT_EQ(serialsOf(Device::getAllInContext(mainContext())), (std::vector<std::string> {"A", "B"}));
    }
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front().rfind("Unresolved error ", 0), 0U) << logged.front();
}

TEST(LocalRESTShellDevice, MachineTypesWithoutAnImageGetTheDefaultOne)
{
    const struct {
        std::optional<std::string> machineType;
        const char* image;
    } cases[] = {
        {"rpi_0", "rpi_0"}, {"rpi_1b_plus", "rpi_1b_plus"}, {"rpi_cm", "rpi_cm"}, {"rpi_4b", "rpi_1a"},
        {"", "rpi_1a"},     {std::nullopt, "rpi_1a"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.machineType.value_or("<absent>"));
        LocalRESTShellDevice device;
        device.machine_type = entry.machineType;
        EXPECT_EQ(device.getMachineTypeImage(), entry.image);
    }
}

} // namespace
} // namespace vantrel::testing
