#include "sandbox/ServerTlsStream.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace vantrel::sandbox {

ServerTlsStream::ServerTlsStream(std::unique_ptr<TlsStream> stream)
    : m_stream(std::move(stream))
{
}

void ServerTlsStream::endSending()
{
    if (!m_stream->socket().is_open()) {
        return;
    }
    ERR_clear_error();
    SSL_shutdown(m_stream->native_handle()); // the socket does not block: sent now, or not at all
    boost::system::error_code ignored;
    m_stream->socket().shutdown(TlsStream::Socket::shutdown_send, ignored);
}

void beast_close_socket(ServerTlsStream& stream)
{
    stream.tls().shutdownAndClose();
}

} // namespace vantrel::sandbox
