#pragma once

#include "core/JsonValue.h"
#include "core/RESTShellDevice.h"
#include "core/Result.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

class CoreDataManager;
class ManagedObjectContext;

/** Machine types that have an image of their own (getMachineTypeImage). */
inline constexpr const char* MACHINE_RPI_0 = "rpi_0";
inline constexpr const char* MACHINE_RPI_1A = "rpi_1a";
inline constexpr const char* MACHINE_RPI_1A_PLUS = "rpi_1a_plus";
inline constexpr const char* MACHINE_RPI_1B = "rpi_1b";
inline constexpr const char* MACHINE_RPI_1B_PLUS = "rpi_1b_plus";
inline constexpr const char* MACHINE_RPI_2B = "rpi_2b";
inline constexpr const char* MACHINE_RPI_3B = "rpi_3b";
inline constexpr const char* MACHINE_RPI_CM = "rpi_cm";

/**
 * One device of the local device cache: a row of the store's single table, one attribute per column, filled from
 * a device object of the service's device list (the service member is named beside each attribute). The value is
 * a snapshot: the class operations read and write the store through a context; changing a value changes nothing
 * until an operation writes it.
 *
 * An attribute receives a member only when the member has the attribute's kind (a text, a number, or for flags a
 * boolean or a number); a member of another kind, a JSON null and a missing member all leave the attribute absent.
 *
 * Threads: every class operation runs on the thread that owns the given context.
 */
struct LocalRESTShellDevice {
    using Text = std::optional<std::string>;
    using Number = JsonField; ///< a JSON number, integer or floating point as the service sent it; null when absent
    using Flag = std::optional<bool>;
    using Integer = std::optional<std::int64_t>;

    std::int64_t objectID = 0; ///< the device's row in the store; 0 before it is stored

    Text agent_version; ///< "agent_version"
    Text device_description; ///< "description"
    Text created_time; ///< "created_time"
    Number disk_capacity; ///< "disk_capacity"
    Number disk_used; ///< "disk_used"
    Text machine_type; ///< "machine_type"
    Text machine_type_display; ///< "machine_type_display"
    Text machine_type_short_display; ///< "machine_type_short_display"
    Text name; ///< "name"
    Flag online; ///< "online"
    Integer online_state; ///< 2 when online, 1 otherwise (set when an answer replaces the cache)
    Text operating_system; ///< "operating_system"
    Text ports_url; ///< "ports_url"
    Number processor_speed; ///< "processor_speed"
    Number ram_capacity; ///< "ram_capacity"
    Text reboot_url; ///< "reboot_url"
    Text uname; ///< "uname"
    Text url; ///< "url"
    Text serial; ///< "serial": the device's identity in the cache
    Text wormhole_slug; ///< "wormhole_slug"
    Flag diagnostics_permitted; ///< "diagnostics_permitted"
    Flag tools_permitted; ///< "tools_permitted"
    Flag wormhole_enabled; ///< "wormhole_enabled"
    Text upgrade_agent; ///< "upgrade"
    Text port_forwarding_ports; ///< "port_forwarding_ports", re-encoded as pretty-printed JSON text
    Integer entity_index; ///< position in the answer that filled the cache, from 1
    Flag forwarding_permitted; ///< kept for the schema; never written

    bool operator==(const LocalRESTShellDevice&) const = default;

    /** The store's name for this entity (its table). */
    static const char* entityName();

    /** Every cached device, by entity_index ascending; empty without a store or when reading fails (logged). */
    static std::vector<LocalRESTShellDevice> getAllInContext(ManagedObjectContext& context);

    /**
     * The devices whose device_description or name contains text, ignoring case and diacritics in any script
     * ("are" finds "Årebo"). Every "'" and "%" is removed from text first; a text left empty matches every device
     * that has a name or a description. By entity_index ascending.
     */
    static std::vector<LocalRESTShellDevice> getByQuery(std::string_view text, ManagedObjectContext& context);

    /** The objectIDs of getAllInContext, in the same order, without reading the devices themselves. */
    static std::vector<std::int64_t> getAllObjectIDsInContext(ManagedObjectContext& context);

    /** The objectIDs of getByQuery, in the same order, without reading the devices themselves. */
    static std::vector<std::int64_t> getObjectIDsByQuery(std::string_view text, ManagedObjectContext& context);

    /**
     * Finds the device with the message's "serial" (a message without one finds the device without one), or makes
     * a new one, fills it from the message and writes it into the context; saves the context when save is set
     * (a failed save is logged). The result is the device as written.
     */
    static Result<LocalRESTShellDevice> uspertRawDevice(const Json& message, ManagedObjectContext& context, bool save);

    /**
     * Stores a service answer: each device object, in answer order, is written as uspertRawDevice does, with
     * online_state from "online" and entity_index counting on from getLastIndexInContext; then the context is
     * saved. A serial that occurs twice is one device, with the index of its last occurrence. The result lists
     * the devices in answer order (a repeated device as it ends up).
     *
     * All or nothing: an answer that is not a list of objects, or a write or save that fails, rolls the context
     * back (with any unsaved change before the call, such as the clearInContext that precedes a replacement),
     * logs the failure and returns the error, so the cache keeps its last saved state.
     */
    static Result<std::vector<LocalRESTShellDevice>> devicesFromMessages(const Json& messages,
                                                                         ManagedObjectContext& context);

    /**
     * Replaces the whole cache with a service answer off the main queue: clearInContext and devicesFromMessages in
     * a background operation's own context, as one transaction. The main context learns of the change through
     * the manager's merge before completion runs on the main queue with the outcome.
     */
    static void replaceAllInBackground(Json messages, std::function<void(const Result<void>&)> completion,
                                       CoreDataManager& manager);

    /** Deletes every cached device in the context, without saving. */
    static Result<void> clearInContext(ManagedObjectContext& context);

    /** The highest entity_index in the context (unsaved changes included); 0 when there is none. */
    static std::int64_t getLastIndexInContext(ManagedObjectContext& context);

    /** The device with this serial, if the context has one. */
    static std::optional<LocalRESTShellDevice> getBySerial(std::string_view serial, ManagedObjectContext& context);

    /** Sets online_state of the device with this serial and saves the context; nothing when there is none. */
    static Result<void> markDeviceOnline(std::int64_t state, std::string_view serial, ManagedObjectContext& context);

    /** Fills every attribute that comes from the service from a device object (see the struct's comment). */
    void inflateFromMessage(const Json& message);

    /**
     * The device record with every attribute that came from the service under its member (port_forwarding_ports
     * decoded from its JSON text; upgrade_agent into msgUpgradeAgent). online_state, entity_index and
     * forwarding_permitted stay behind.
     */
    RESTShellDevice toMessage() const&;
    /** The same, moving the texts into the record instead of copying them. */
    RESTShellDevice toMessage() &&;

    /** toMessage of many devices at once: texts are moved, and each distinct port list text is decoded once. */
    static std::vector<RESTShellDevice> toMessages(std::vector<LocalRESTShellDevice> devices);

    /** The name of the image for machine_type: the type itself when it has an image, else MACHINE_RPI_1A. */
    std::string getMachineTypeImage() const;
};

} // namespace vantrel
