#include "core/CoreData/DeviceTable.h"

#include "core/CoreData/StoreConnection.h"

#include <array>
#include <cstddef>
#include <limits>
#include <utility>
#include <variant>

namespace vantrel {
namespace {

using Device = LocalRESTShellDevice;
using Attribute =
    std::variant<Device::Text Device::*, Device::Number Device::*, Device::Flag Device::*, Device::Integer Device::*>;

// The attribute behind each column of DEVICE_COLUMNS, in that order: statement parameter i + 1 binds
// kAttributes[i], and a selected row holds the objectID in column 0 and kAttributes[i] in column i + 1.
constexpr std::array<Attribute, 27> kAttributes {
    &Device::agent_version,
    &Device::device_description,
    &Device::created_time,
    &Device::disk_capacity,
    &Device::disk_used,
    &Device::machine_type,
    &Device::machine_type_display,
    &Device::machine_type_short_display,
    &Device::name,
    &Device::online,
    &Device::online_state,
    &Device::operating_system,
    &Device::ports_url,
    &Device::processor_speed,
    &Device::ram_capacity,
    &Device::reboot_url,
    &Device::uname,
    &Device::url,
    &Device::serial,
    &Device::wormhole_slug,
    &Device::diagnostics_permitted,
    &Device::tools_permitted,
    &Device::wormhole_enabled,
    &Device::upgrade_agent,
    &Device::port_forwarding_ports,
    &Device::entity_index,
    &Device::forwarding_permitted,
};

// The column list is joined to the fixed statements below at compile time; values only ever arrive bound.
#define DEVICE_COLUMNS                                                                                                 \
    "agent_version, device_description, created_time, disk_capacity, disk_used, machine_type, "                        \
    "machine_type_display, machine_type_short_display, name, online, online_state, operating_system, ports_url, "      \
    "processor_speed, ram_capacity, reboot_url, uname, url, serial, wormhole_slug, diagnostics_permitted, "            \
    "tools_permitted, wormhole_enabled, upgrade_agent, port_forwarding_ports, entity_index, forwarding_permitted"

constexpr const char* kSelectAll = "SELECT id, " DEVICE_COLUMNS " FROM LocalRESTShellDevice ORDER BY entity_index";

// Scans the narrow search index (in entity_index order, reading no full row) and fetches only the rows that match.
constexpr const char* kSelectContaining =
    "SELECT d.id, d.agent_version, d.device_description, d.created_time, d.disk_capacity, d.disk_used,"
    " d.machine_type, d.machine_type_display, d.machine_type_short_display, d.name, d.online, d.online_state,"
    " d.operating_system, d.ports_url, d.processor_speed, d.ram_capacity, d.reboot_url, d.uname, d.url, d.serial,"
    " d.wormhole_slug, d.diagnostics_permitted, d.tools_permitted, d.wormhole_enabled, d.upgrade_agent,"
    " d.port_forwarding_ports, d.entity_index, d.forwarding_permitted"
    " FROM LocalRESTShellDevice AS s INDEXED BY LocalRESTShellDevice_search"
    " CROSS JOIN LocalRESTShellDevice AS d ON d.id = s.id"
    " WHERE instr(s.search_description, ?1) > 0 OR instr(s.search_name, ?1) > 0"
    " ORDER BY s.entity_index";

// The same search as kSelectContaining, answered from the index alone (it holds the objectID as well).
constexpr const char* kSelectIdsContaining =
    "SELECT id FROM LocalRESTShellDevice INDEXED BY LocalRESTShellDevice_search"
    " WHERE instr(search_description, ?1) > 0 OR instr(search_name, ?1) > 0"
    " ORDER BY entity_index";

constexpr const char* kSelectAllIds = "SELECT id FROM LocalRESTShellDevice INDEXED BY LocalRESTShellDevice_search"
                                      " ORDER BY entity_index";

constexpr const char* kCount = "SELECT count(*) FROM LocalRESTShellDevice";

constexpr const char* kSelectBySerial = "SELECT id, " DEVICE_COLUMNS " FROM LocalRESTShellDevice"
                                        " WHERE serial IS ?1 ORDER BY id LIMIT 1";

// ?9 is name and ?2 device_description: the search columns are their folded forms.
constexpr const char* kInsert = "INSERT INTO LocalRESTShellDevice (" DEVICE_COLUMNS ", search_name, search_description)"
                                " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17,"
                                " ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27,"
                                " fold_for_search(?9), fold_for_search(?2))";

#undef DEVICE_COLUMNS

constexpr int kObjectIdParameter = 28;

constexpr const char* kUpdate =
    "UPDATE LocalRESTShellDevice SET agent_version = ?1, device_description = ?2, created_time = ?3,"
    " disk_capacity = ?4, disk_used = ?5, machine_type = ?6, machine_type_display = ?7,"
    " machine_type_short_display = ?8, name = ?9, online = ?10, online_state = ?11, operating_system = ?12,"
    " ports_url = ?13, processor_speed = ?14, ram_capacity = ?15, reboot_url = ?16, uname = ?17, url = ?18,"
    " serial = ?19, wormhole_slug = ?20, diagnostics_permitted = ?21, tools_permitted = ?22,"
    " wormhole_enabled = ?23, upgrade_agent = ?24, port_forwarding_ports = ?25, entity_index = ?26,"
    " forwarding_permitted = ?27, search_name = fold_for_search(?9), search_description = fold_for_search(?2)"
    " WHERE id = ?28";

constexpr const char* kDeleteAll = "DELETE FROM LocalRESTShellDevice";

constexpr const char* kLastIndex = "SELECT coalesce(max(entity_index), 0) FROM LocalRESTShellDevice";

template <class... Handlers> struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

void bindNumber(SqliteStatement& statement, int index, const Device::Number& number)
{
    if (number.is_number_integer() && !number.is_number_unsigned()) {
        statement.bindInteger(index, number.get<std::int64_t>());
    } else if (number.is_number_unsigned()) {
        const auto value = number.get<std::uint64_t>();
        if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            statement.bindInteger(index, static_cast<std::int64_t>(value));
        } else {
            statement.bindReal(index, static_cast<double>(value));
        }
    } else if (number.is_number_float()) {
        statement.bindReal(index, number.get<double>());
    } else {
        statement.bindNull(index);
    }
}

void bindAttributes(SqliteStatement& statement, const Device& device)
{
    for (std::size_t i = 0; i < kAttributes.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        std::visit(Overloaded {
                       [&](Device::Text Device::*text) {
                           const auto& value = device.*text;
                           value ? statement.bindText(index, *value) : statement.bindNull(index);
                       },
                       [&](Device::Number Device::*number) { bindNumber(statement, index, device.*number); },
                       [&](Device::Flag Device::*flag) {
                           const auto& value = device.*flag;
                           value ? statement.bindInteger(index, *value ? 1 : 0) : statement.bindNull(index);
                       },
                       [&](Device::Integer Device::*integer) {
                           const auto& value = device.*integer;
                           value ? statement.bindInteger(index, *value) : statement.bindNull(index);
                       },
                   },
                   kAttributes[i]);
    }
}

Device readRow(const SqliteStatement& row)
{
    Device device;
    device.objectID = row.integer(0);
    for (std::size_t i = 0; i < kAttributes.size(); ++i) {
        const int column = static_cast<int>(i) + 1;
        std::visit(Overloaded {
                       [&](Device::Text Device::*text) { device.*text = row.text(column); },
                       [&](Device::Number Device::*number) {
                           if (row.isInteger(column)) {
                               device.*number = row.integer(column);
                           } else if (row.isReal(column)) {
                               device.*number = row.real(column);
                           }
                       },
                       [&](Device::Flag Device::*flag) {
                           if (!row.isNull(column)) {
                               device.*flag = row.integer(column) != 0;
                           }
                       },
                       [&](Device::Integer Device::*integer) {
                           if (!row.isNull(column)) {
                               device.*integer = row.integer(column);
                           }
                       },
                   },
                   kAttributes[i]);
    }
    return device;
}

} // namespace

Result<DeviceTable> DeviceTable::prepare(StoreConnection& connection)
{
    DeviceTable table;
    const std::array<std::pair<SqliteStatement*, const char*>, 10> statements {{
        {&table.m_selectAll, kSelectAll},
        {&table.m_selectContaining, kSelectContaining},
        {&table.m_selectAllIds, kSelectAllIds},
        {&table.m_selectIdsContaining, kSelectIdsContaining},
        {&table.m_count, kCount},
        {&table.m_selectBySerial, kSelectBySerial},
        {&table.m_insert, kInsert},
        {&table.m_update, kUpdate},
        {&table.m_deleteAll, kDeleteAll},
        {&table.m_lastIndex, kLastIndex},
    }};
    for (const auto& [statement, sql] : statements) {
        auto prepared = connection.prepare(sql);
        if (!prepared) {
            return prepared.error();
        }
        *statement = std::move(prepared).value();
    }
    return table;
}

Result<std::vector<LocalRESTShellDevice>> DeviceTable::fetchRows(SqliteStatement& statement, std::size_t expected)
{
    std::vector<LocalRESTShellDevice> devices;
    // Devices are large values: growing the list step by step would move every one of them several times.
    devices.reserve(expected);
    for (;;) {
        auto stepped = statement.step();
        if (!stepped) {
            return stepped.error();
        }
        if (stepped.value() == SqliteStatement::Step::done) {
            return devices;
        }
        devices.push_back(readRow(statement));
    }
}

Result<std::vector<std::int64_t>> DeviceTable::fetchIds(SqliteStatement& statement)
{
    std::vector<std::int64_t> ids;
    for (;;) {
        auto stepped = statement.step();
        if (!stepped) {
            return stepped.error();
        }
        if (stepped.value() == SqliteStatement::Step::done) {
            return ids;
        }
        ids.push_back(statement.integer(0));
    }
}

Result<std::size_t> DeviceTable::count()
{
    const auto use = m_count.use();
    auto stepped = m_count.step();
    if (!stepped) {
        return stepped.error();
    }
    return stepped.value() == SqliteStatement::Step::row ? static_cast<std::size_t>(m_count.integer(0)) : 0;
}

Result<std::vector<LocalRESTShellDevice>> DeviceTable::fetchAll()
{
    auto expected = count();
    if (!expected) {
        return expected.error();
    }
    const auto use = m_selectAll.use();
    return fetchRows(m_selectAll, expected.value());
}

Result<std::vector<LocalRESTShellDevice>> DeviceTable::fetchContaining(const std::string& foldedText)
{
    auto expected = count();
    if (!expected) {
        return expected.error();
    }
    const auto use = m_selectContaining.use();
    m_selectContaining.bindText(1, foldedText);
    return fetchRows(m_selectContaining, expected.value());
}

Result<std::vector<std::int64_t>> DeviceTable::fetchAllIds()
{
    const auto use = m_selectAllIds.use();
    return fetchIds(m_selectAllIds);
}

Result<std::vector<std::int64_t>> DeviceTable::fetchIdsContaining(const std::string& foldedText)
{
    const auto use = m_selectIdsContaining.use();
    m_selectIdsContaining.bindText(1, foldedText);
    return fetchIds(m_selectIdsContaining);
}

Result<std::optional<LocalRESTShellDevice>> DeviceTable::fetchBySerial(const std::optional<std::string>& serial)
{
    const auto use = m_selectBySerial.use();
    serial ? m_selectBySerial.bindText(1, *serial) : m_selectBySerial.bindNull(1);
    auto stepped = m_selectBySerial.step();
    if (!stepped) {
        return stepped.error();
    }
    if (stepped.value() == SqliteStatement::Step::done) {
        return std::optional<LocalRESTShellDevice>();
    }
    return std::optional<LocalRESTShellDevice>(readRow(m_selectBySerial));
}

Result<std::int64_t> DeviceTable::insert(const LocalRESTShellDevice& device)
{
    const auto use = m_insert.use();
    bindAttributes(m_insert, device);
    auto stepped = m_insert.step();
    if (!stepped) {
        return stepped.error();
    }
    return m_insert.lastInsertedRow();
}

Result<void> DeviceTable::update(const LocalRESTShellDevice& device)
{
    const auto use = m_update.use();
    bindAttributes(m_update, device);
    m_update.bindInteger(kObjectIdParameter, device.objectID);
    auto stepped = m_update.step();
    if (!stepped) {
        return stepped.error();
    }
    return {};
}

Result<void> DeviceTable::deleteAll()
{
    return m_deleteAll.run();
}

Result<std::int64_t> DeviceTable::lastIndex()
{
    const auto use = m_lastIndex.use();
    auto stepped = m_lastIndex.step();
    if (!stepped) {
        return stepped.error();
    }
    return stepped.value() == SqliteStatement::Step::row ? m_lastIndex.integer(0) : 0;
}

} // namespace vantrel
