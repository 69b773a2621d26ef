#include "core/CoreData/LocalRESTShellDevice.h"

#include "core/CRUDHelper.h"
#include "core/CoreData/AsyncOperation.h"
#include "core/CoreData/CoreDataManager.h"
#include "core/CoreData/DeviceTable.h"
#include "core/CoreData/ManagedObjectContext.h"
#include "core/CoreData/SearchFolding.h"
#include "core/CoreData/StoreError.h"
#include "core/ServiceKeys.h"

#include "platform/Log.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>

namespace vantrel {
namespace {

using Device = LocalRESTShellDevice;

// Each attribute that comes from the service, with its member and the device record field of that member.
struct TextAttribute {
    const char* key;
    Device::Text Device::*attribute;
    JsonField RESTShellDevice::*field;
};
struct NumberAttribute {
    const char* key;
    Device::Number Device::*attribute;
    JsonField RESTShellDevice::*field;
};
struct FlagAttribute {
    const char* key;
    Device::Flag Device::*attribute;
    JsonField RESTShellDevice::*field;
};

constexpr std::array kTextAttributes {
    TextAttribute {DEVICE_FIELD_AGENT_VERSION, &Device::agent_version, &RESTShellDevice::msgAgentVersion},
    TextAttribute {DEVICE_FIELD_DESCRIPTION, &Device::device_description, &RESTShellDevice::msgDescription},
    TextAttribute {DEVICE_FIELD_CREATED_TIME, &Device::created_time, &RESTShellDevice::msgCreatedTime},
    TextAttribute {DEVICE_FIELD_MACHINE_TYPE, &Device::machine_type, &RESTShellDevice::msgMachineType},
    TextAttribute {DEVICE_FIELD_MACHINE_TYPE_DISPLAY, &Device::machine_type_display,
                   &RESTShellDevice::msgMachineTypeDisplay},
    TextAttribute {DEVICE_MACHINE_TYPE_SHORT_DISPLAY, &Device::machine_type_short_display,
                   &RESTShellDevice::msgMachineTypeShortDisplay},
    TextAttribute {DEVICE_FIELD_NAME, &Device::name, &RESTShellDevice::msgName},
    TextAttribute {DEVICE_FIELD_OPERATING_SYSTEM, &Device::operating_system, &RESTShellDevice::msgOperatingSystem},
    TextAttribute {DEVICE_FIELD_PORTS_URL, &Device::ports_url, &RESTShellDevice::msgPortsUrl},
    TextAttribute {DEVICE_FIELD_REBOOT_URL, &Device::reboot_url, &RESTShellDevice::msgRebootUrl},
    TextAttribute {DEVICE_FIELD_UNAME, &Device::uname, &RESTShellDevice::msgUname},
    TextAttribute {DEVICE_FIELD_URL, &Device::url, &RESTShellDevice::msgUrl},
    TextAttribute {DEVICE_FIELD_SERIAL, &Device::serial, &RESTShellDevice::msgSerial},
    TextAttribute {DEVICE_FIELD_WORMHOLE_SLUG, &Device::wormhole_slug, &RESTShellDevice::msgWormholeSlug},
    TextAttribute {DEVICE_FIELD_UPGRADE_AGENT, &Device::upgrade_agent, &RESTShellDevice::msgUpgradeAgent},
};

constexpr std::array kNumberAttributes {
    NumberAttribute {DEVICE_FIELD_DISK_CAPACITY, &Device::disk_capacity, &RESTShellDevice::msgDiskCapacity},
    NumberAttribute {DEVICE_FIELD_DISK_USED, &Device::disk_used, &RESTShellDevice::msgDiskUsed},
    NumberAttribute {DEVICE_FIELD_PROCESSOR_SPEED, &Device::processor_speed, &RESTShellDevice::msgProcessorSpeed},
    NumberAttribute {DEVICE_FIELD_RAM_CAPACITY, &Device::ram_capacity, &RESTShellDevice::msgRamCapacity},
};

constexpr std::array kFlagAttributes {
    FlagAttribute {DEVICE_FIELD_ONLINE, &Device::online, &RESTShellDevice::msgOnline},
    FlagAttribute {DEVICE_FIELD_DIAGNOSTICS_PERMITTED, &Device::diagnostics_permitted,
                   &RESTShellDevice::msgDiagnosticPermitted},
    FlagAttribute {DEVICE_FIELD_TOOLS_PERMITTED, &Device::tools_permitted, &RESTShellDevice::msgToolsPermitted},
    FlagAttribute {DEVICE_FIELD_WORMHOLE_ENABLED, &Device::wormhole_enabled, &RESTShellDevice::msgWormholeEnabled},
};

constexpr std::array kImagedMachineTypes {MACHINE_RPI_0,       MACHINE_RPI_1A, MACHINE_RPI_1A_PLUS, MACHINE_RPI_1B,
                                          MACHINE_RPI_1B_PLUS, MACHINE_RPI_2B, MACHINE_RPI_3B,      MACHINE_RPI_CM};

constexpr std::int64_t kOnline = 2;
constexpr std::int64_t kOffline = 1;

Device::Flag flagOf(const JsonField& value)
{
    if (value.is_boolean() || value.is_number()) {
        return boolValueOf(value);
    }
    return std::nullopt;
}

/** Logs a failed read; a context without a store reads nothing, which is not a failure worth a line. */
void logFetchFailure(const Result<void>& fetched)
{
    if (!fetched && !isStoreError(fetched.error(), StoreErrorCode::noStore)) {
        logFormat("Error fetching:{}", fetched.error().text());
    }
}

/** Runs a fetch in the context; no list without a store, and a failure is logged. */
template <class Item>
std::vector<Item> fetchList(ManagedObjectContext& context,
                            const std::function<Result<std::vector<Item>>(DeviceTable&)>& fetch)
{
    std::vector<Item> items;
    auto fetched = context.read([&](DeviceTable& table) -> Result<void> {
        auto rows = fetch(table);
        if (!rows) {
            return rows.error();
        }
        items = std::move(rows).value();
        return {};
    });
    logFetchFailure(fetched);
    return items;
}

/** A search text as the store compares it: without "'" and "%", folded. */
std::string searchForm(std::string_view text)
{
    std::string cleaned(text);
    std::erase_if(cleaned, [](char c) { return c == '\'' || c == '%'; });
    return foldForSearch(cleaned);
}

/** The port list of its stored JSON text; a text that does not decode (written by something else) is absent. */
JsonField portsOfText(const std::string& text)
{
    return parseJson(text).value_or(JsonField());
}

/**
 * Writes the device of message into the table: the one with its serial, or a new one. adjust sets what the
 * message does not carry before the row is written.
 */
Result<Device> upsert(DeviceTable& table, const Json& message, const std::function<void(Device&)>& adjust)
{
    auto found = table.fetchBySerial(textOf(CRUDHelper::getValueForKey(DEVICE_FIELD_SERIAL, message)));
    if (!found) {
        return found.error();
    }
    Device device = std::move(found).value().value_or(Device());
    device.inflateFromMessage(message);
    if (adjust) {
        adjust(device);
    }
    if (device.objectID != 0) {
        if (auto updated = table.update(device); !updated) {
            return updated.error();
        }
        return device;
    }
    auto inserted = table.insert(device);
    if (!inserted) {
        return inserted.error();
    }
    device.objectID = inserted.value();
    return device;
}

Result<void> checkAnswer(const Json& messages)
{
    if (!messages.is_array()) {
        return storeError(StoreErrorCode::badAnswer, "The device list is not a list");
    }
    const bool allObjects =
        std::all_of(messages.begin(), messages.end(), [](const Json& message) { return message.is_object(); });
    if (!allObjects) {
        return storeError(StoreErrorCode::badAnswer, "The device list holds an entry that is not a device");
    }
    return {};
}

/** Stores every device of a checked answer in the open transaction; the result is in answer order. */
Result<std::vector<Device>> storeAnswer(DeviceTable& table, const Json& messages)
{
    auto last = table.lastIndex();
    if (!last) {
        return last.error();
    }
    std::int64_t next = last.value() + 1;
    std::vector<std::int64_t> order;
    std::map<std::int64_t, Device> stored; // by objectID: a repeated device ends as its last occurrence left it
    for (const Json& message : messages) {
        auto device = upsert(table, message, [&next](Device& filled) {
            filled.online_state = filled.online.value_or(false) ? kOnline : kOffline;
            filled.entity_index = next;
        });
        if (!device) {
            return device.error();
        }
        ++next;
        order.push_back(device.value().objectID);
        stored.insert_or_assign(device.value().objectID, std::move(device).value());
    }
    std::vector<Device> devices;
    devices.reserve(order.size());
    for (const std::int64_t objectID : order) {
        devices.push_back(stored.at(objectID));
    }
    return devices;
}

/** The device record of a device: its texts and numbers copied from a device, moved from a device about to go. */
template <class Source> RESTShellDevice messageOf(Source&& source)
{
    RESTShellDevice device;
    for (const auto& text : kTextAttributes) {
        if (source.*text.attribute) {
            device.*text.field = *(std::forward<Source>(source).*text.attribute);
        }
    }
    for (const auto& number : kNumberAttributes) {
        device.*number.field = std::forward<Source>(source).*number.attribute;
    }
    for (const auto& flag : kFlagAttributes) {
        if (const auto& value = source.*flag.attribute) {
            device.*flag.field = *value;
        }
    }
    if (source.port_forwarding_ports) {
        device.msgPortForwardingPorts = portsOfText(*source.port_forwarding_ports);
    }
    return device;
}

} // namespace

const char* LocalRESTShellDevice::entityName()
{
    return "LocalRESTShellDevice";
}

std::vector<LocalRESTShellDevice> LocalRESTShellDevice::getAllInContext(ManagedObjectContext& context)
{
    return fetchList<Device>(context, [](DeviceTable& table) { return table.fetchAll(); });
}

std::vector<LocalRESTShellDevice> LocalRESTShellDevice::getByQuery(std::string_view text, ManagedObjectContext& context)
{
    const std::string folded = searchForm(text);
    return fetchList<Device>(context, [&folded](DeviceTable& table) { return table.fetchContaining(folded); });
}

std::vector<std::int64_t> LocalRESTShellDevice::getAllObjectIDsInContext(ManagedObjectContext& context)
{
    return fetchList<std::int64_t>(context, [](DeviceTable& table) { return table.fetchAllIds(); });
}

std::vector<std::int64_t> LocalRESTShellDevice::getObjectIDsByQuery(std::string_view text,
                                                                    ManagedObjectContext& context)
{
    const std::string folded = searchForm(text);
    return fetchList<std::int64_t>(context, [&folded](DeviceTable& table) { return table.fetchIdsContaining(folded); });
}

Result<LocalRESTShellDevice> LocalRESTShellDevice::uspertRawDevice(const Json& message, ManagedObjectContext& context,
                                                                   bool save)
{
    std::optional<Result<Device>> written;
    auto changed = context.change([&](DeviceTable& table) -> Result<void> {
        written = upsert(table, message, nullptr);
        return written->ok() ? Result<void>() : Result<void>(written->error());
    });
    if (!changed) {
        return changed.error();
    }
    if (save) {
        CoreDataManager::saveContext(context);
    }
    return std::move(*written);
}

Result<std::vector<LocalRESTShellDevice>> LocalRESTShellDevice::devicesFromMessages(const Json& messages,
                                                                                    ManagedObjectContext& context)
{
    std::vector<Device> devices;
    Result<void> outcome = checkAnswer(messages);
    if (outcome) {
        outcome = context.change([&](DeviceTable& table) -> Result<void> {
            auto stored = storeAnswer(table, messages);
            if (!stored) {
                return stored.error();
            }
            devices = std::move(stored).value();
            return {};
        });
    }
    if (outcome) {
        outcome = context.save();
    }
    if (!outcome) {
        context.rollback();
        logUnresolved(outcome.error());
        return outcome.error();
    }
    return devices;
}

void LocalRESTShellDevice::replaceAllInBackground(Json messages, std::function<void(const Result<void>&)> completion,
                                                  CoreDataManager& manager)
{
    auto outcome = std::make_shared<Result<void>>();
    auto work = [messages = std::move(messages), outcome](AsyncOperation& operation) mutable {
        // Taken out of the operation, so that a large answer is released on this thread, not with the operation
        // on the main queue.
        const Json answer = std::exchange(messages, Json());
        ManagedObjectContext& context = operation.getThreadManagedObjectContext();
        (void)clearInContext(context); // a failure here fails the refill below as well
        auto stored = devicesFromMessages(answer, context);
        if (!stored) {
            *outcome = stored.error();
        }
    };
    auto done = [outcome, completion = std::move(completion)] {
        if (completion) {
            completion(*outcome);
        }
    };
    AsyncOperation::initWithBlock(std::move(work), std::move(done), false, manager)->enqueue();
}

Result<void> LocalRESTShellDevice::clearInContext(ManagedObjectContext& context)
{
    return context.change([](DeviceTable& table) { return table.deleteAll(); });
}

std::int64_t LocalRESTShellDevice::getLastIndexInContext(ManagedObjectContext& context)
{
    std::int64_t last = 0;
    auto read = context.read([&last](DeviceTable& table) -> Result<void> {
        auto index = table.lastIndex();
        if (!index) {
            return index.error();
        }
        last = index.value();
        return {};
    });
    logFetchFailure(read);
    return last;
}

std::optional<LocalRESTShellDevice> LocalRESTShellDevice::getBySerial(std::string_view serial,
                                                                      ManagedObjectContext& context)
{
    std::optional<Device> device;
    auto read = context.read([&](DeviceTable& table) -> Result<void> {
        auto found = table.fetchBySerial(std::string(serial));
        if (!found) {
            return found.error();
        }
        device = std::move(found).value();
        return {};
    });
    logFetchFailure(read);
    return device;
}

Result<void> LocalRESTShellDevice::markDeviceOnline(std::int64_t state, std::string_view serial,
                                                    ManagedObjectContext& context)
{
    auto changed = context.change([&](DeviceTable& table) -> Result<void> {
        auto found = table.fetchBySerial(std::string(serial));
        if (!found) {
            return found.error();
        }
        if (!found.value()) {
            return {};
        }
        Device device = std::move(*found.value());
        device.online_state = state;
        return table.update(device);
    });
    if (!changed) {
        return changed.error();
    }
    CoreDataManager::saveContext(context);
    return {};
}

void LocalRESTShellDevice::inflateFromMessage(const Json& message)
{
    for (const auto& text : kTextAttributes) {
        this->*text.attribute = textOf(CRUDHelper::getValueForKey(text.key, message));
    }
    for (const auto& number : kNumberAttributes) {
        const JsonField value = CRUDHelper::getValueForKey(number.key, message);
        this->*number.attribute = value.is_number() ? value : JsonField();
    }
    for (const auto& flag : kFlagAttributes) {
        this->*flag.attribute = flagOf(CRUDHelper::getValueForKey(flag.key, message));
    }
    const JsonField ports = CRUDHelper::getValueForKey(DEVICE_FIELD_PORT_FORWARDING_PORTS, message);
    if (isPresent(ports)) {
        port_forwarding_ports = toPrettyJson(ports);
    }
}

RESTShellDevice LocalRESTShellDevice::toMessage() const&
{
    return messageOf(*this);
}

RESTShellDevice LocalRESTShellDevice::toMessage() &&
{
    return messageOf(std::move(*this));
}

std::vector<RESTShellDevice> LocalRESTShellDevice::toMessages(std::vector<LocalRESTShellDevice> devices)
{
    // Devices of one account mostly share a few port lists: each text is decoded once and its value copied.
    std::unordered_map<std::string, JsonField> decodedPorts;
    std::vector<RESTShellDevice> messages;
    messages.reserve(devices.size());
    for (Device& device : devices) {
        const std::optional<std::string> ports = std::exchange(device.port_forwarding_ports, std::nullopt);
        RESTShellDevice& message = messages.emplace_back(std::move(device).toMessage());
        if (ports) {
            auto decoded = decodedPorts.find(*ports);
            if (decoded == decodedPorts.end()) {
                decoded = decodedPorts.emplace(*ports, portsOfText(*ports)).first;
            }
            message.msgPortForwardingPorts = decoded->second;
        }
    }
    return messages;
}

std::string LocalRESTShellDevice::getMachineTypeImage() const
{
    const bool imaged = machine_type
        && std::any_of(kImagedMachineTypes.begin(), kImagedMachineTypes.end(),
                       [this](const char* type) { return *machine_type == type; });
    return imaged ? *machine_type : MACHINE_RPI_1A;
}

} // namespace vantrel
