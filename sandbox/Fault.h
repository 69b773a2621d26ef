#pragma once

#include "core/JsonValue.h"
#include "core/Result.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace vantrel::sandbox {

/**
 * One misbehaviour the sandbox is asked to show. The JSON form (sandbox/README.md) is what the control
 * endpoint accepts; the named constructors build the same values in-process.
 *
 * HTTP kinds (status, delay, close) apply to requests whose path ends with `path` (empty: every request but the
 * control endpoint's). Relay kinds apply to relay connections: to the open ones, oldest first, when the fault is
 * added, then to each new one once its WebSocket handshake is done. Every use takes one of `count`; no count
 * means until the faults are cleared.
 */
struct Fault {
    enum class Kind {
        status, ///< answer with `status` and `body` instead of the real answer
        delay, ///< answer `delay` later
        close, ///< close the connection without answering
        refusePorts, ///< refuse a ports call that passed every check, with `status` and `body`
        relayDrop, ///< close the relay connection's TCP connection, no WebSocket close
        relayStall, ///< stop reading and writing the relay connection (it stays open)
        relayMalformed, ///< send the relay connection one malformed message (`malformed`)
        rpcError, ///< answer JSON-RPC `method` with the error {`code`, `message`}
    };
    enum class Malformed {
        garbage, ///< a binary message that is not bencode
        text, ///< a text frame
        unknownType, ///< a well-formed packet of a type nobody uses (42)
        oversized, ///< a binary message of `bytes` bytes
        integerType, ///< a list whose first element is a bencode integer, not a byte string
    };

    Kind kind = Kind::status;
    std::string path;
    int status = 500;
    Json body; ///< absent: a {"detail": ...} text naming the fault
    std::chrono::milliseconds delay {0};
    std::optional<std::int64_t> count;
    Malformed malformed = Malformed::garbage;
    std::size_t bytes = 17 * 1024 * 1024; ///< size of an oversized message
    std::string method; ///< rpcError: method name; empty = every method
    std::int64_t code = 1; ///< rpcError: the JSON-RPC error code
    std::string message = "Session keep-alive required";

    static Fault answer(std::string path, int status, Json body = Json(), std::optional<std::int64_t> count = 1);
    static Fault delayed(std::string path, std::chrono::milliseconds delay, std::optional<std::int64_t> count = {});
    static Fault closing(std::string path, std::optional<std::int64_t> count = 1);
    static Fault refusingPorts(int status = 403, std::optional<std::int64_t> count = 1);
    static Fault relay(Kind kind, std::optional<std::int64_t> count = 1);
    static Fault malformedPacket(Malformed malformed, std::optional<std::int64_t> count = 1);
    static Fault rpc(std::string method, std::int64_t code, std::string message, std::optional<std::int64_t> count = 1);

    /** Reads the JSON form; errors carry SandboxErrorCode::badFault. */
    static Result<Fault> fromJson(const Json& json);
    Json toJson() const;

    bool isRelayKind() const;
    /** The body of a status or refusePorts answer: `body`, or {"detail": "..."} when it is absent. */
    Json answerBody() const;
};

} // namespace vantrel::sandbox
