#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <mutex>
#include <string_view>

namespace vantrel::platform {

/**
 * A per-user, per-program key-value store kept as one JSON object in one file. Every change is written to
 * disk (atomically) before the call returns, so another process reading the file right after sees it.
 * A missing, unreadable or damaged file reads as an empty store, with one log line for a damaged one.
 * Thread-safe.
 */
class PreferencesStore {
public:
    explicit PreferencesStore(std::filesystem::path file);

    /** The store of the running program: <preferences folder>/<program identifier>.json. */
    static PreferencesStore& standard();

    /** The value under key, or JSON null when the key is missing. */
    nlohmann::json value(std::string_view key) const;

    /** Stores value under key; a JSON null value removes the key. Then writes the file. */
    void setValue(std::string_view key, nlohmann::json value);

    /** Removes every key of the program and deletes its file. */
    void removeAll();

    const std::filesystem::path& file() const { return m_file; }

private:
    void load();
    void flush() const;

    const std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    nlohmann::json m_values = nlohmann::json::object(); // guarded by m_mutex
};

} // namespace vantrel::platform
