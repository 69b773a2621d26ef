#include "platform/PreferencesStore.h"

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ProgramInfo.h"

namespace vantrel::platform {
namespace {

constexpr mode_t kPreferencesFileMode = 0600;

} // namespace

PreferencesStore::PreferencesStore(std::filesystem::path file)
    : m_file(std::move(file))
{
    load();
}

PreferencesStore& PreferencesStore::standard()
{
    static PreferencesStore store(paths::preferencesDirectory() / (currentProgram().identifier + ".json"));
    return store;
}

nlohmann::json PreferencesStore::value(std::string_view key) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_values.find(key);
    return found == m_values.end() ? nlohmann::json() : *found;
}

void PreferencesStore::setValue(std::string_view key, nlohmann::json value)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_values.find(key);
    const bool unchanged = value.is_null() ? found == m_values.end() : found != m_values.end() && *found == value;
    if (unchanged) {
        return; // the file already says so: no write (a profile refresh stores the same profile every few seconds)
    }
    if (value.is_null()) {
        m_values.erase(std::string(key));
    } else {
        m_values[std::string(key)] = std::move(value);
    }
    flush();
}

void PreferencesStore::removeAll()
{
    std::lock_guard lock(m_mutex);
    m_values = nlohmann::json::object();
    std::error_code ignored;
    std::filesystem::remove(m_file, ignored);
}

void PreferencesStore::load()
{
    std::string text;
    if (readWholeFile(m_file, text)) {
        return; // no file yet: an empty store
    }
    nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (!parsed.is_object()) {
        logFormat("preferences file {} is damaged; starting from defaults", m_file.string());
        return;
    }
    m_values = std::move(parsed);
}

void PreferencesStore::flush() const
{
    std::error_code error;
    std::filesystem::create_directories(m_file.parent_path(), error);
    const std::string text = m_values.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (auto writeError = writeFileAtomically(m_file, text, kPreferencesFileMode)) {
        logFormat("could not write preferences file {}: {}", m_file.string(), writeError.message());
    }
}

} // namespace vantrel::platform
