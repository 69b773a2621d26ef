#pragma once

#include "sandbox/Fault.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace vantrel::sandbox {

/**
 * The faults in force. Every take... call consumes one use of each fault it returns and forgets a fault whose
 * count is used up. Thread-safe: sessions on any thread and the controls call it.
 */
class FaultList {
public:
    /** What the HTTP session does with one request instead of (or before) answering it. */
    struct HttpPlan {
        std::chrono::milliseconds delay {0};
        bool close = false;
        std::optional<Fault> answer; ///< a status fault to answer with
    };

    void add(Fault fault);
    void clear();
    Json toJson() const;

    /** The status, delay and close faults for a request path (delays add up; close wins over status). */
    HttpPlan takeHttp(std::string_view path);

    /** A refusePorts fault, if one is in force. */
    std::optional<Fault> takeRefusePorts();

    /** An rpcError fault for the method, if one is in force. */
    std::optional<Fault> takeRpcError(std::string_view method);

    /** The relay faults a new relay connection takes, in the order they were added. */
    std::vector<Fault> takeRelay();

private:
    /** Uses one count of m_faults[index]; returns a copy of it and forgets it when used up. Lock held. */
    Fault useLocked(std::size_t index);

    mutable std::mutex m_mutex;
    std::vector<Fault> m_faults; ///< guarded by m_mutex, in the order added
};

} // namespace vantrel::sandbox
