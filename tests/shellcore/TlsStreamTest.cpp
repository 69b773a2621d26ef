#include "ShellCore/TlsStream.h"

#include "core/TlsClient.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using boost::asio::ip::tcp;

TEST(TlsStream, AClosedStreamNeverTouchesTheDescriptorNumberItHad)
{
    boost::asio::io_context context;
    tcp::acceptor listener(context, {boost::asio::ip::address_v4::loopback(), 0});
    const auto tls = tls::makeClientContext(std::nullopt);
    TlsStream stream(context.get_executor(), tls->native_handle());
    stream.socket().connect(listener.local_endpoint());
    tcp::socket server = listener.accept();

    // The handshake starts (its first flight goes out), then the stream is closed while it waits.
    stream.async_handshake([](const boost::system::error_code&, std::size_t) {});
    context.poll();
    const int oldDescriptor = stream.socket().native_handle();
    stream.shutdownAndClose();
    context.poll();

    // A new connection now gets the same descriptor number.
    tcp::socket other(context);
    other.connect(listener.local_endpoint());
    tcp::socket otherServer = listener.accept();
    ASSERT_EQ(other.native_handle(), oldDescriptor);

    boost::system::error_code writeResult;
    stream.async_write_some(boost::asio::buffer(std::string_view("must not leak")),
                            [&](const boost::system::error_code& error, std::size_t) { writeResult = error; });
    context.restart();
    context.run_for(std::chrono::milliseconds(200));
    EXPECT_EQ(writeResult, boost::asio::error::bad_descriptor);

    otherServer.non_blocking(true);
    char received[64];
    boost::system::error_code readError;
    otherServer.read_some(boost::asio::buffer(received), readError);
    EXPECT_EQ(readError, boost::asio::error::would_block) << "nothing may reach the other connection";
}

} // namespace
} // namespace vantrel
