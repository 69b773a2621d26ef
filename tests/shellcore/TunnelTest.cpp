// The tunnel end to end: a local client, a listener of the engine, the sandbox's relay over TLS and a TCP service
// behind the device port.

#include "ShellCore/IoContextPool.h"
#include "ShellCore/RoutingServer.h"

#include "core/AsioMainQueue.h"
#include "core/ShellRESTAPI.h"
#include "core/ShellUserDefaults.h"

#include "platform/Log.h"
#include "tests/support/LoopbackClient.h"
#include "tests/support/SandboxEnvironment.h"

#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <mutex>
#include <openssl/evp.h>
#include <thread>

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackClient;
using testing::SandboxEnvironment;

constexpr const char* kGateway = "CRV-SANDBOX-0001"; // 22: echo, 80: banner, 23: says "bye" and closes
constexpr const char* kLogger = "CRV-SANDBOX-0002";  // 9: sink, 19: source
constexpr const char* kDemoToken = "demo-token-7f3a9c2e41b8";
constexpr const char* kClosingPort = "23";

/** A TCP service that greets every connection with "bye" and closes it at once. */
class ClosingService {
public:
    ClosingService()
        : m_acceptor(m_context, {boost::asio::ip::address_v4::loopback(), 0})
    {
        accept();
        m_thread = std::thread([this] { m_context.run(); });
    }
    ~ClosingService()
    {
        m_context.stop();
        m_thread.join();
    }
    std::uint16_t port() const { return m_acceptor.local_endpoint().port(); }

private:
    void accept()
    {
        m_acceptor.async_accept([this](const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
            if (!error) {
                boost::system::error_code ignored;
                boost::asio::write(socket, boost::asio::buffer(std::string_view("bye\n")), ignored);
                socket.close(ignored);
            }
            accept();
        });
    }

    boost::asio::io_context m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    std::thread m_thread;
};

/** The log lines written while it lives, from any thread. */
class ThreadSafeLog {
public:
    ThreadSafeLog()
        : m_capture([this](std::string_view line) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(line);
        })
    {
    }

    bool has(const std::function<bool(const std::string&)>& matches) const
    {
        std::lock_guard lock(m_mutex);
        return std::any_of(m_lines.begin(), m_lines.end(), matches);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    LogCapture m_capture; // last: it may call in as soon as it exists
};

ClosingService& closingService()
{
    static ClosingService service;
    return service;
}

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SandboxEnvironment([](Json& fixture) {
    for (Json& device : fixture["devices"]) {
        if (device["serial"] == kGateway) {
            device["targets"][kClosingPort] = "127.0.0.1:" + std::to_string(closingService().port());
        }
    }
}));

std::string sha256(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

std::string patternOf(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7919 + i / 65536) & 0xFF);
    }
    return bytes;
}

/** The engine as the daemon runs it: two loops on two threads, the main queue a strand of the first. */
class TunnelTest : public ::testing::Test {
protected:
    TunnelTest()
        : m_main(boost::asio::make_strand(m_loops.mainContext()))
        , m_queue(m_main)
        , m_installation(m_queue)
    {
        m_loops.startThreads();
        m_mainThread = std::thread([this] { m_loops.runMain(); });
        onMain([] { ShellUserDefaults::sharedInstance().setAuthToken(kDemoToken, false); });
        SandboxEnvironment::sandbox().clearFaults();
    }

    ~TunnelTest() override
    {
        onMain([this] {
            for (auto& server : m_servers) {
                server->close();
            }
        });
        // Let the closes reach the channels' loops, then stop.
        std::this_thread::sleep_for(50ms);
        m_loops.stop();
        m_mainThread.join();
    }

    template <class Function>
    auto onMain(Function function) -> decltype(function())
    {
        std::packaged_task<decltype(function())()> task(std::move(function));
        auto result = task.get_future();
        boost::asio::post(m_main, [&task] { task(); });
        return result.get();
    }

    /** The device record the service gives for serial. */
    Json deviceRecord(const std::string& serial)
    {
        std::promise<Json> devices;
        onMain([&devices] {
            ShellRESTAPI::sharedAPI().getDevices([&devices](GenericRESTResponse<Json> response) {
                devices.set_value(response.result.value_or(Json::array()));
            });
        });
        for (const Json& device : devices.get_future().get()) {
            if (device["serial"] == serial) {
                return device;
            }
        }
        ADD_FAILURE() << "no device " << serial;
        return Json::object();
    }

    /** Starts a listener for a forward to the device port; returns the local port. */
    std::uint16_t forward(const std::string& serial, const std::string& remotePort)
    {
        const std::uint16_t localPort = testing::freeLoopbackPort();
        auto association = std::make_shared<DevicePortAssociation>(DevicePortAssociation::fromDict(
            {{"id", "TEST-" + serial + "-" + remotePort}, {"local_port", std::to_string(localPort)},
             {"remote_port", remotePort}, {"device", deviceRecord(serial)}}));
        auto server = RoutingServer::createWithAssociation(association, m_loops, m_main);
        server->setAppVersion("1.6 (1.16)");
        EXPECT_TRUE(onMain([server] { return server->listen().ok(); }));
        m_servers.push_back(server);
        return localPort;
    }

    std::size_t openChannels(std::size_t server = 0)
    {
        return onMain([this, server] { return m_servers.at(server)->openChannels(); });
    }

    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 10s)
    {
        const auto stopAt = std::chrono::steady_clock::now() + deadline;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= stopAt) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    IoContextPool m_loops{2};
    boost::asio::strand<boost::asio::io_context::executor_type> m_main;
    AsioMainQueue m_queue;
    ScopedMainQueue m_installation;
    std::thread m_mainThread;
    std::vector<std::shared_ptr<RoutingServer>> m_servers;
};

TEST_F(TunnelTest, AListenerClosedBeforeItListensStaysClosed)
{
    // Two reviews in a row: the first one's listener is closed before its queued listen runs, and must not take
    // the port from the second one's.
    const std::uint16_t localPort = testing::freeLoopbackPort();
    auto association = std::make_shared<DevicePortAssociation>(
        DevicePortAssociation::fromDict({{"local_port", std::to_string(localPort)}, {"remote_port", "22"}}));
    auto early = RoutingServer::createWithAssociation(association, m_loops, m_main);
    auto late = RoutingServer::createWithAssociation(association, m_loops, m_main);
    const auto [earlyListened, lateListened] = onMain([&] {
        early->close();
        return std::pair(early->listen().ok(), late->listen().ok());
    });
    EXPECT_FALSE(earlyListened);
    EXPECT_TRUE(lateListened);
    onMain([&] { late->close(); });
}

TEST_F(TunnelTest, EarlyBytesGoFirstThenBytesFlowBothWays)
{
    auto client = LoopbackClient::connect(forward(kGateway, "22"));
    ASSERT_TRUE(client);
    // Sent before the relay has even answered: they wait in the channel and must come back first.
    ASSERT_TRUE(client->send("early bytes|"));
    EXPECT_EQ(client->receive(12), "early bytes|");
    ASSERT_TRUE(client->send("later"));
    EXPECT_EQ(client->receive(5), "later");
}

TEST_F(TunnelTest, ADeviceThatSpeaksFirstIsHeardWithoutSending)
{
    const auto banner = SandboxEnvironment::sandbox().bannerLine(kGateway, 80);
    ASSERT_TRUE(banner);
    auto client = LoopbackClient::connect(forward(kGateway, "80"));
    ASSERT_TRUE(client);
    EXPECT_EQ(client->receiveLine(), *banner);
    ASSERT_TRUE(client->send("after the banner"));
    EXPECT_EQ(client->receive(16), "after the banner");
}

TEST_F(TunnelTest, EachClientGetsItsOwnChannelAndRelayConnection)
{
    const std::uint16_t port = forward(kGateway, "22");
    const auto before = SandboxEnvironment::sandbox().relayCounters().routesOpened;
    auto first = LoopbackClient::connect(port);
    auto second = LoopbackClient::connect(port);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(first->send("one"));
    ASSERT_TRUE(second->send("two"));
    EXPECT_EQ(second->receive(3), "two");
    EXPECT_EQ(first->receive(3), "one");
    EXPECT_EQ(SandboxEnvironment::sandbox().relayCounters().routesOpened, before + 2);
    EXPECT_EQ(openChannels(), 2u);
}

TEST_F(TunnelTest, ARefusedPortClosesTheLocalConnection)
{
    ThreadSafeLog log;
    SandboxEnvironment::sandbox().addFault(sandbox::Fault::refusingPorts(403));
    auto client = LoopbackClient::connect(forward(kGateway, "22"));
    ASSERT_TRUE(client);
    EXPECT_TRUE(client->waitForClose());
    EXPECT_TRUE(waitFor([this] { return openChannels() == 0; })) << "an ended channel is dropped by its listener";
    EXPECT_TRUE(log.has([](const std::string& line) { return line.rfind("[v:1.6 (1.16)] error: ", 0) == 0; }));
}

TEST_F(TunnelTest, ATargetThatClosesEndsTheRouteAndTheLocalConnection)
{
    ThreadSafeLog log;
    auto client = LoopbackClient::connect(forward(kGateway, kClosingPort));
    ASSERT_TRUE(client);
    EXPECT_EQ(client->receiveLine(), "bye\n");
    EXPECT_TRUE(client->waitForClose());
    EXPECT_TRUE(log.has([](const std::string& line) { return line == "socket disconnected : Requested close"; }));
}

TEST_F(TunnelTest, ADroppedRelayConnectionEndsTheLocalConnection)
{
    auto client = LoopbackClient::connect(forward(kGateway, "22"));
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->send("x"));
    ASSERT_EQ(client->receive(1), "x");
    SandboxEnvironment::sandbox().addFault(sandbox::Fault::relay(sandbox::Fault::Kind::relayDrop));
    EXPECT_TRUE(client->waitForClose());
}

TEST_F(TunnelTest, ALocalCloseClosesTheRelayConnection)
{
    const auto opened = SandboxEnvironment::sandbox().relayCounters().connectionsOpened;
    {
        auto client = LoopbackClient::connect(forward(kGateway, "22"));
        ASSERT_TRUE(client);
        ASSERT_TRUE(client->send("bye"));
        ASSERT_EQ(client->receive(3), "bye");
        EXPECT_EQ(SandboxEnvironment::sandbox().relayCounters().connectionsOpened, opened + 1);
    }
    EXPECT_TRUE(waitFor([] { return SandboxEnvironment::sandbox().relayCounters().connectionsOpen == 0; }));
    EXPECT_TRUE(waitFor([this] { return openChannels() == 0; }));
}

TEST_F(TunnelTest, SixtyFourMebibytesArriveIntact)
{
    const std::string sent = patternOf(64 * 1024 * 1024);
    auto client = LoopbackClient::connect(forward(kGateway, "22"));
    ASSERT_TRUE(client);
    std::optional<std::string> received;
    std::thread reader([&] { received = client->receive(sent.size(), 120s); });
    EXPECT_TRUE(client->send(sent, 120s));
    reader.join();
    ASSERT_TRUE(received);
    EXPECT_EQ(sha256(*received), sha256(sent));
}

TEST_F(TunnelTest, MalformedRelayMessagesAreDroppedAndTheChannelGoesOn)
{
    using Malformed = sandbox::Fault::Malformed;
    auto client = LoopbackClient::connect(forward(kGateway, "22"));
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->send("0"));
    ASSERT_EQ(client->receive(1), "0");
    for (Malformed kind : {Malformed::garbage, Malformed::text, Malformed::unknownType, Malformed::integerType}) {
        SandboxEnvironment::sandbox().addFault(sandbox::Fault::malformedPacket(kind));
        ASSERT_TRUE(client->send("1"));
        EXPECT_EQ(client->receive(1), "1") << static_cast<int>(kind);
    }
}

TEST_F(TunnelTest, AnOversizedRelayMessageEndsOnlyItsChannel)
{
    const std::uint16_t port = forward(kGateway, "22");
    auto first = LoopbackClient::connect(port);
    ASSERT_TRUE(first && first->send("1"));
    ASSERT_EQ(first->receive(1), "1");
    auto second = LoopbackClient::connect(port);
    ASSERT_TRUE(second && second->send("2"));
    ASSERT_EQ(second->receive(1), "2");
    // A relay fault goes to the oldest open relay connection: the first client's.
    SandboxEnvironment::sandbox().addFault(sandbox::Fault::malformedPacket(sandbox::Fault::Malformed::oversized));
    EXPECT_TRUE(first->waitForClose());
    ASSERT_TRUE(second->send("still here"));
    EXPECT_EQ(second->receive(10), "still here");
}

TEST_F(TunnelTest, ASlowLocalReaderHoldsBackAFastDevice)
{
    auto client = LoopbackClient::connect(forward(kLogger, "19")); // the source sends as fast as it may
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->receive(1024)); // the route is up
    const auto sentSoFar = [] { return SandboxEnvironment::sandbox().builtinCounters(kLogger, 19)->bytesSent; };
    // Without reading, the source soon has to stop: what it has sent sits in socket buffers and at most one
    // relay message in the engine.
    std::int64_t settled = sentSoFar();
    ASSERT_TRUE(waitFor([&] {
        std::this_thread::sleep_for(200ms);
        const std::int64_t now = sentSoFar();
        const bool still = now == settled;
        settled = now;
        return still;
    }));
    EXPECT_LT(settled, 32 * 1024 * 1024);
    // Once the reader reads again, everything held back arrives and the source goes on.
    EXPECT_TRUE(client->receive(static_cast<std::size_t>(settled) + 1024 * 1024, 60s));
}

TEST_F(TunnelTest, AStalledRelayHoldsBackAFastClient)
{
    auto client = LoopbackClient::connect(forward(kLogger, "9")); // the sink swallows everything
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->send(std::string(1024, 'x')));
    ASSERT_TRUE(waitFor([] { return SandboxEnvironment::sandbox().builtinCounters(kLogger, 9)->bytesReceived >= 1024; }));
    SandboxEnvironment::sandbox().addFault(sandbox::Fault::relay(sandbox::Fault::Kind::relayStall));
    // The relay reads nothing more: after the socket buffers and one read on its way, the client must block.
    const std::string chunk(1024 * 1024, 'y');
    std::size_t accepted = 0;
    for (int round = 0; round < 64; ++round) {
        const std::size_t taken = client->sendWithoutWaiting(chunk);
        accepted += taken;
        if (taken == 0) {
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_LT(accepted, std::size_t{32} * 1024 * 1024);
}

} // namespace
} // namespace vantrel
