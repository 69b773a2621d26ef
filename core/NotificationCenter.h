#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>

namespace vantrel {

/** In-process notification names. */
inline constexpr const char* nSessionExpired = "nSessionExpired"; ///< the service answered 401
inline constexpr const char* nShowProgress = "nShowProgress";     ///< work started
inline constexpr const char* nHideProgress = "nHideProgress";     ///< work ended or was cancelled
inline constexpr const char* nSetProgress = "nSetProgress";       ///< object: the progress value (float)
inline constexpr const char* nSetText = "nSetText";               ///< object: the progress caption (text)

/** One posted notification: its name and the object it carries (nothing, a number, a text or a sender). */
struct Notification {
    using Object = std::variant<std::monostate, float, std::string, const void*>;
    std::string name;
    Object object;
};

/**
 * The process's in-process notification center. Observers run synchronously on the thread that posts, in the
 * order they were added. Thread-safe; an observer may add or remove observers, or post, from its callback.
 */
class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;

    /** Keeps an observer registered while it lives. */
    class Registration {
    public:
        Registration() = default;
        Registration(Registration&& other) noexcept;
        Registration& operator=(Registration&& other) noexcept;
        ~Registration();

    private:
        friend class NotificationCenter;
        Registration(NotificationCenter* center, std::uint64_t id);
        void reset();

        NotificationCenter* m_center = nullptr; // not owned; the center outlives its registrations
        std::uint64_t m_id = 0;
    };

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    /** The process-wide default center. */
    static NotificationCenter& defaultCenter();

    /** Calls observer for every notification with this name posted from now on, until the registration ends. */
    [[nodiscard]] Registration addObserver(std::string name, Observer observer);

    void post(std::string_view name, Notification::Object object = {});

private:
    void remove(std::uint64_t id);

    struct Entry {
        std::string name;
        std::shared_ptr<const Observer> observer;
    };
    std::mutex m_mutex;
    std::map<std::uint64_t, Entry> m_observers; // guarded by m_mutex; ids grow, so the map keeps adding order
    std::uint64_t m_nextId = 1;                 // guarded by m_mutex
};

} // namespace vantrel
