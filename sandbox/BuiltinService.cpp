#include "sandbox/BuiltinService.h"

#include "ShellCore/IoContextPool.h"
#include "sandbox/SandboxError.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <vector>

namespace vantrel::sandbox {

namespace net = boost::asio;
using net::ip::tcp;

namespace {

constexpr std::size_t kEchoBuffer = 16 * 1024;
constexpr std::size_t kBulkBuffer = 64 * 1024;

/** 261 periods of the source pattern (65,511 bytes): every chunk starts at pattern offset 0. */
const std::vector<char>& sourceChunk()
{
    static const std::vector<char> chunk = [] {
        std::vector<char> bytes(BuiltinService::kPatternModulus * 261);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i % BuiltinService::kPatternModulus);
        }
        return bytes;
    }();
    return chunk;
}

/** One client of a built-in service. */
class BuiltinConnection : public std::enable_shared_from_this<BuiltinConnection> {
public:
    BuiltinConnection(tcp::socket socket, std::shared_ptr<BuiltinService> service)
        : m_socket(std::move(socket))
        , m_service(std::move(service))
    {
        m_service->connectionsAccepted.fetch_add(1);
        m_service->connectionsOpen.fetch_add(1);
    }

    ~BuiltinConnection() { m_service->connectionsOpen.fetch_sub(1); }

    void start()
    {
        boost::system::error_code ignored;
        m_socket.set_option(tcp::no_delay(true), ignored);
        switch (m_service->kind()) {
        case DeviceTarget::Kind::banner:
            m_banner = m_service->bannerLine();
            net::async_write(m_socket, net::buffer(m_banner),
                             [self = shared_from_this()](const boost::system::error_code& error, std::size_t n) {
                                 self->m_service->bytesSent.fetch_add(static_cast<std::int64_t>(n));
                                 if (!error) {
                                     self->doEchoRead();
                                 }
                             });
            break;
        case DeviceTarget::Kind::source:
            doSourceWrite();
            doDiscardRead();
            break;
        case DeviceTarget::Kind::sink:
            doDiscardRead();
            break;
        case DeviceTarget::Kind::echo:
        case DeviceTarget::Kind::address:
            doEchoRead();
            break;
        }
    }

private:
    void doEchoRead()
    {
        m_buffer.resize(kEchoBuffer);
        m_socket.async_read_some(
            net::buffer(m_buffer), [self = shared_from_this()](const boost::system::error_code& error, std::size_t n) {
                if (error) {
                    return;
                }
                self->m_service->bytesReceived.fetch_add(static_cast<std::int64_t>(n));
                net::async_write(self->m_socket, net::buffer(self->m_buffer.data(), n),
                                 [self](const boost::system::error_code& writeError, std::size_t written) {
                                     self->m_service->bytesSent.fetch_add(static_cast<std::int64_t>(written));
                                     if (!writeError) {
                                         self->doEchoRead();
                                     }
                                 });
            });
    }

    void doDiscardRead()
    {
        m_buffer.resize(kBulkBuffer);
        m_socket.async_read_some(net::buffer(m_buffer),
                                 [self = shared_from_this()](const boost::system::error_code& error, std::size_t n) {
                                     if (error) {
                                         self->stop();
                                         return;
                                     }
                                     self->m_service->bytesReceived.fetch_add(static_cast<std::int64_t>(n));
                                     self->doDiscardRead();
                                 });
    }

    void doSourceWrite()
    {
        const auto& chunk = sourceChunk();
        net::async_write(m_socket, net::buffer(chunk),
                         [self = shared_from_this()](const boost::system::error_code& error, std::size_t n) {
                             self->m_service->bytesSent.fetch_add(static_cast<std::int64_t>(n));
                             if (!error) {
                                 self->doSourceWrite();
                             }
                         });
    }

    /** The peer went away: a source stops writing too. */
    void stop()
    {
        boost::system::error_code ignored;
        m_socket.close(ignored);
    }

    tcp::socket m_socket;
    std::shared_ptr<BuiltinService> m_service; // counters; the service outlives its connections
    std::vector<char> m_buffer;
    std::string m_banner;
};

} // namespace

Json BuiltinCounters::toJson() const
{
    return {{"connections_accepted", connectionsAccepted},
            {"connections_open", connectionsOpen},
            {"bytes_received", bytesReceived},
            {"bytes_sent", bytesSent}};
}

BuiltinService::BuiltinService(IoContextPool& loops, DeviceTarget::Kind kind, std::string name)
    : m_acceptor(loops.nextExecutor())
    , m_kind(kind)
    , m_name(std::move(name))
{
}

Result<std::shared_ptr<BuiltinService>> BuiltinService::open(IoContextPool& loops, DeviceTarget::Kind kind,
                                                             std::string name)
{
    auto service = std::make_shared<BuiltinService>(loops, kind, std::move(name));
    const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), 0);
    boost::system::error_code error;
    service->m_acceptor.open(endpoint.protocol(), error);
    if (!error) {
        service->m_acceptor.bind(endpoint, error);
    }
    if (!error) {
        service->m_acceptor.listen(net::socket_base::max_listen_connections, error);
    }
    if (error) {
        return sandboxError(SandboxErrorCode::listen,
                            "cannot open the built-in service for " + service->m_name + ": " + error.message());
    }
    service->m_endpoint = service->m_acceptor.local_endpoint();
    return service;
}

void BuiltinService::start()
{
    net::post(m_acceptor.get_executor(), [self = shared_from_this()]() { self->doAccept(); });
}

void BuiltinService::close()
{
    net::post(m_acceptor.get_executor(), [self = shared_from_this()]() {
        boost::system::error_code ignored;
        self->m_acceptor.close(ignored);
    });
}

void BuiltinService::doAccept()
{
    m_acceptor.async_accept(m_acceptor.get_executor(),
                            [self = shared_from_this()](const boost::system::error_code& error, tcp::socket socket) {
                                if (error == net::error::operation_aborted || !self->m_acceptor.is_open()) {
                                    return;
                                }
                                if (!error) {
                                    std::make_shared<BuiltinConnection>(std::move(socket), self)->start();
                                }
                                self->doAccept();
                            });
}

std::string BuiltinService::bannerLine() const
{
    return "SANDBOX-BANNER " + m_name + "\r\n";
}

BuiltinCounters BuiltinService::counters() const
{
    return {connectionsAccepted.load(), connectionsOpen.load(), bytesReceived.load(), bytesSent.load()};
}

} // namespace vantrel::sandbox
