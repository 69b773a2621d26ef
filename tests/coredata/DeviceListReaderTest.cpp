// The device records that lists are built from: made in batches, kept per objectID, found by a search of the
// store's index, and made again whenever the store changes.

#include "tests/coredata/DeviceStoreFixture.h"

#include "core/CoreData/DeviceListReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel::testing {
namespace {

using Device = LocalRESTShellDevice;

class DeviceListReading : public DeviceStoreFixture {
protected:
    /** The names of the records of the cached devices that match searchText, in list order. */
    std::vector<std::string> names(const std::string& searchText = "")
    {
        std::vector<std::string> found;
        for (const auto& record : reader.devicesMatching(searchText)) {
            found.push_back(textOf(record->msgName).value_or("<none>"));
        }
        return found;
    }

    DeviceListReader reader {*manager};
};

TEST_F(DeviceListReading, ABatchAgreesWithOneByOneConversion)
{
    std::vector<Device> devices(5);
    devices[0].name = "a";
    devices[0].port_forwarding_ports = "[\n  22,\n  80\n]";
    devices[1].name = "b";
    devices[1].port_forwarding_ports = "[\n  22,\n  80\n]"; // the same text: decoded once, both get the list
    devices[2].port_forwarding_ports = "not JSON"; // written by something else: no ports
    devices[3].disk_used = 1.5;
    devices[3].online = false;
    devices[4].port_forwarding_ports = "[\n  -1\n]";

    std::vector<RESTShellDevice> expected;
    for (const Device& device : devices) {
        expected.push_back(device.toMessage());
    }
    EXPECT_EQ(Device::toMessages(devices), expected);
    EXPECT_EQ(expected[1].msgPortForwardingPorts, Json({22, 80}));
    EXPECT_FALSE(isPresent(expected[2].msgPortForwardingPorts));
}

TEST_F(DeviceListReading, ListsFollowEveryChangeOfTheStoreAndReuseTheRecordsOtherwise)
{
    replaceCache(Json::array({deviceMessage("A", "a"), deviceMessage("B", "b")}));
    EXPECT_EQ(names(), (std::vector<std::string> {"a", "b"}));
    EXPECT_EQ(names("B"), (std::vector<std::string> {"b"}));
    EXPECT_TRUE(names("c").empty());
    const auto first = reader.devicesMatching("");
    EXPECT_EQ(reader.devicesMatching(""), first) << "an unchanged store gives the same records";

    // Each change keeps some objectIDs while their devices change.
    const struct {
        const char* name;
        std::function<void()> change;
        std::vector<std::string> names;
    } changes[] = {
        {"renamed in place",
         [&] { ASSERT_TRUE(Device::uspertRawDevice(deviceMessage("A", "a2"), mainContext(), true).ok()); },
         {"a2", "b"}},
        {"replaced in another context",
         [&] {
             ManagedObjectContext other(manager->persistentStoreCoordinator());
             ASSERT_TRUE(Device::clearInContext(other).ok());
             ASSERT_TRUE(Device::devicesFromMessages(Json::array({deviceMessage("C", "c")}), other).ok());
         },
         {"c"}},
        {"erased, then filled anew",
         [&] {
             manager->clearAllData();
             replaceCache(Json::array({deviceMessage("D", "d"), deviceMessage("E", "e")}));
         },
         {"d", "e"}},
    };
    for (const auto& entry : changes) {
        SCOPED_TRACE(entry.name);
        entry.change();
        EXPECT_EQ(names(), entry.names);
    }
}

} // namespace
} // namespace vantrel::testing
