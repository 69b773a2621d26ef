#include "tests/sandbox/SandboxTestFixture.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

namespace vantrel::sandbox::testing {
namespace {

namespace net = boost::asio;
using namespace std::chrono_literals;

/** Polls a condition of the sandbox (which runs on its own threads) until it holds or the deadline passes. */
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 10s)
{
    const auto stopAt = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= stopAt) {
            return false;
        }
        std::this_thread::sleep_for(1ms); // the sandbox's threads do the work meanwhile
    }
    return true;
}

bool isPacketOfType(const RelayMessage& message, const std::string& type)
{
    const auto packet = decodePacket(message.bytes);
    return packet && !packet->elements.empty() && packet->elements[0] == type;
}

class RelayTest : public SandboxTest {
protected:
    /** Opens a route to a device port and returns its number, checking the [14, route] announcement. */
    std::int64_t openRoute(HttpsClient& http, RelayClient& relayClient, const std::string& serial,
                           const std::string& remotePort)
    {
        const std::string identity = identityOf(relayClient);
        const Answer answer = callPorts(http, serial, identity, remotePort);
        EXPECT_EQ(answer.status, 200) << answer.body;
        const Json json = answer.json();
        EXPECT_EQ(json["service"], "redirect-port");
        EXPECT_TRUE(json["port"].is_number_integer());
        const auto announced = relayClient.readUntil([](const RelayMessage& m) { return isPacketOfType(m, "14"); });
        EXPECT_TRUE(announced);
        if (announced) {
            const auto packet = decodePacket(announced->bytes);
            EXPECT_TRUE(packet->allBytes);
            EXPECT_EQ(packet->elements.at(1), json["port"].dump());
        }
        return json["port"].is_number_integer() ? json["port"].get<std::int64_t>() : 0;
    }
};

TEST_F(RelayTest, EchoRouteCarriesBytesBothWaysAsByteStringPackets)
{
    auto http = client();
    auto relayClient = relay(kGateway);
    const std::int64_t route = openRoute(*http, *relayClient, kGateway, "22");
    EXPECT_EQ(sandbox().relayCounters().routesOpen, 1);

    ASSERT_FALSE(relayClient->send(clientPacket(5, route, "hello device")));
    const auto echoed = relayClient->readUntil([](const RelayMessage& m) { return isPacketOfType(m, "6"); });
    ASSERT_TRUE(echoed);
    EXPECT_TRUE(echoed->binary);
    EXPECT_EQ(echoed->bytes, "l1:64:" + std::to_string(route) + "12:hello devicee");
}

TEST_F(RelayTest, BannerTargetSpeaksFirst)
{
    auto http = client();
    auto relayClient = relay(kGateway);
    const std::int64_t route = openRoute(*http, *relayClient, kGateway, "80");
    const auto banner = relayClient->readUntil([](const RelayMessage& m) { return isPacketOfType(m, "6"); });
    ASSERT_TRUE(banner);
    const auto packet = decodePacket(banner->bytes);
    EXPECT_EQ(packet->elements.at(1), std::to_string(route));
    EXPECT_EQ(packet->elements.at(2), sandbox().bannerLine(kGateway, 80).value());
}

TEST_F(RelayTest, PortsCallRefusesWhatTheAccountOrTheRelayDoesNotAllow)
{
    auto http = client();
    auto gatewayRelay = relay(kGateway);
    auto loggerRelay = relay(kLogger);
    const std::string identity = identityOf(*gatewayRelay);
    const std::string loggerIdentity = identityOf(*loggerRelay);
    const std::string gatewayPorts = service(std::string("devices/") + kGateway + "/ports/");
    const struct {
        const char* name;
        std::string path;
        Json body;
        std::string token;
        int status;
    } cases[] = {
        {"unknown identity",
         gatewayPorts,
         {{"m2m_identity", "relay-0-0"}, {"service", "redirect-port"}, {"port", "22"}},
         kDemoToken,
         400},
        {"identity of another device",
         gatewayPorts,
         {{"m2m_identity", loggerIdentity}, {"service", "redirect-port"}, {"port", "22"}},
         kDemoToken,
         400},
        {"port not on the device",
         gatewayPorts,
         {{"m2m_identity", identity}, {"service", "redirect-port"}, {"port", "443"}},
         kDemoToken,
         400},
        {"no port", gatewayPorts, {{"m2m_identity", identity}, {"service", "redirect-port"}}, kDemoToken, 400},
        {"other service",
         gatewayPorts,
         {{"m2m_identity", identity}, {"service", "remote-file"}, {"port", "22"}},
         kDemoToken,
         400},
        {"port not granted",
         gatewayPorts,
         {{"m2m_identity", identity}, {"service", "redirect-port"}, {"port", "80"}},
         kRestrictedToken,
         403},
        {"device of another account",
         service(std::string("devices/") + kLogger + "/ports/"),
         {{"m2m_identity", loggerIdentity}, {"service", "redirect-port"}, {"port", "9"}},
         "twofactor-token-52d0e6a7c913",
         404},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const Answer answer = http->post(test.path, test.body, tokenHeader(test.token));
        EXPECT_EQ(answer.status, test.status) << answer.body;
        EXPECT_TRUE(answer.json().is_object()) << answer.body;
    }

    ASSERT_TRUE(sandbox().setForwardingPorts(kDemoEmail, Json::array()));
    EXPECT_EQ(callPorts(*http, kGateway, identity, "22").status, 403);
    ASSERT_TRUE(sandbox().setForwardingPorts(kDemoEmail, Json::array({22})));
    sandbox().addFault(Fault::refusingPorts());
    EXPECT_EQ(callPorts(*http, kGateway, identity, "22").status, 403);
    EXPECT_EQ(callPorts(*http, kGateway, identity, "22").status, 200);
    EXPECT_EQ(sandbox().relayCounters().routesOpened, 1);
}

TEST_F(RelayTest, UnknownAndOfflineDevicesAreRefusedAtTheHandshake)
{
    for (const auto& [serial, status] : {std::pair<std::string, int> {"NO-SUCH-DEVICE", 404}, {kSpare, 503}}) {
        SCOPED_TRACE(serial);
        RelayClient relayClient(sandbox().caFile(), port());
        EXPECT_EQ(relayClient.open(targetOf(sandbox().relayUrl()) + "?device=" + serial),
                  boost::beast::websocket::error::upgrade_declined);
        EXPECT_EQ(relayClient.refusedStatus, status);
    }
}

TEST_F(RelayTest, SourceAndSinkMoveMegabytesIntact)
{
    auto http = client();
    auto sourceRelay = relay(kLogger);
    openRoute(*http, *sourceRelay, kLogger, "19");
    std::string received;
    while (received.size() < 4 * 1024 * 1024) {
        const auto message = sourceRelay->readUntil([](const RelayMessage& m) { return isPacketOfType(m, "6"); });
        ASSERT_TRUE(message) << sourceRelay->lastError.message();
        received += decodePacket(message->bytes)->elements.at(2);
    }
    for (std::size_t i = 0; i < received.size(); ++i) {
        ASSERT_EQ(static_cast<unsigned char>(received[i]), i % BuiltinService::kPatternModulus) << "offset " << i;
    }

    auto sinkRelay = relay(kLogger);
    const std::int64_t route = openRoute(*http, *sinkRelay, kLogger, "9");
    const std::string chunk(64 * 1024, 's');
    for (int i = 0; i < 64; ++i) {
        ASSERT_FALSE(sinkRelay->send(clientPacket(5, route, chunk)));
    }
    EXPECT_TRUE(eventually([&] { return sandbox().builtinCounters(kLogger, 9)->bytesReceived == 64 * 64 * 1024; }));
}

TEST_F(RelayTest, PingsExpectPongsAndAMissedPongClosesTheConnection)
{
    SandboxOptions options;
    options.relayPingInterval = 250ms; // room for the pong on a loaded machine
    start(options);
    auto relayClient = relay(kGateway);
    const auto ping = relayClient->readUntil([](const RelayMessage& m) { return isPacketOfType(m, "7"); });
    ASSERT_TRUE(ping);
    const auto value = decodePacket(ping->bytes)->elements.at(1);
    std::string pong;
    BencodeWriter(pong).beginList().integer(8).bytes(value).end();
    ASSERT_FALSE(relayClient->send(pong));
    EXPECT_TRUE(eventually([&] { return sandbox().relayCounters().pongsReceived == 1; }));

    // No more pongs: the relay closes the connection.
    EXPECT_FALSE(relayClient->readUntil([](const RelayMessage&) { return false; }, 5s));
    EXPECT_EQ(relayClient->lastError, boost::beast::websocket::error::closed);
    EXPECT_EQ(sandbox().relayCounters().missedPongs, 1);
}

TEST_F(RelayTest, MalformedPacketFaultsSendWhatTheyName)
{
    const struct {
        Fault::Malformed kind;
        std::function<bool(const RelayMessage&)> check;
    } cases[] = {
        {Fault::Malformed::garbage,
         [](const RelayMessage& m) {
             return m.binary && !decodePacket(m.bytes);
         }},
        {Fault::Malformed::text,
         [](const RelayMessage& m) {
             return !m.binary;
         }},
        {Fault::Malformed::unknownType,
         [](const RelayMessage& m) {
             return isPacketOfType(m, "42");
         }},
        {Fault::Malformed::integerType,
         [](const RelayMessage& m) {
             return decodePacket(m.bytes) && !decodePacket(m.bytes)->allBytes;
         }},
        {Fault::Malformed::oversized,
         [](const RelayMessage& m) {
             return m.binary && m.bytes.size() > 2 * 1024 * 1024;
         }},
    };
    auto relayClient = relay(kGateway);
    for (const auto& test : cases) {
        SCOPED_TRACE(static_cast<int>(test.kind));
        Fault fault = Fault::malformedPacket(test.kind);
        fault.bytes = 2 * 1024 * 1024 + 1;
        sandbox().addFault(fault);
        const auto message = relayClient->read();
        ASSERT_TRUE(message) << relayClient->lastError.message();
        EXPECT_TRUE(test.check(*message));
    }
    EXPECT_FALSE(identityOf(*relayClient).empty()); // the connection still works
}

TEST_F(RelayTest, DropFaultsCutOpenAndNewConnectionsWithoutACloseFrame)
{
    auto first = relay(kGateway);
    identityOf(*first);
    sandbox().addFault(Fault::relay(Fault::Kind::relayDrop));
    EXPECT_FALSE(first->read());
    EXPECT_NE(first->lastError, boost::beast::websocket::error::closed);

    auto second = relay(kGateway); // the fault was used up by the first connection
    EXPECT_FALSE(identityOf(*second).empty());

    sandbox().addFault(Fault::relay(Fault::Kind::relayDrop, std::nullopt)); // every connection from now on
    EXPECT_FALSE(second->read());
    auto third = relay(kGateway);
    EXPECT_FALSE(third->read());
    sandbox().clearFaults();
    EXPECT_FALSE(identityOf(*relay(kGateway)).empty());
    EXPECT_TRUE(eventually([&] { return sandbox().relayCounters().connectionsOpen == 0; }));
}

/** A device port whose target is a TCP listener of the test, to watch the relay's side of a route. */
class RelayTargetTest : public RelayTest {
protected:
    void SetUp() override
    {
        m_acceptor.open(net::ip::tcp::v4());
        m_acceptor.bind({net::ip::make_address_v4("127.0.0.1"), 0});
        m_acceptor.listen();
        Json fixture = Fixture::defaultJson();
        fixture["devices"].push_back(
            {{"serial", "CRV-TEST-0009"},
             {"name", "Watched"},
             {"online", true},
             {"targets", {{"7", "127.0.0.1:" + std::to_string(m_acceptor.local_endpoint().port())}}}});
        fixture["accounts"][0]["devices"].push_back("CRV-TEST-0009");
        SandboxOptions options;
        options.fixture = fixture;
        start(options);
    }

    net::ip::tcp::socket accept()
    {
        net::ip::tcp::socket socket(m_io.context());
        const auto error = m_io.run([&](auto done) { m_acceptor.async_accept(socket, [done](auto e) { done(e); }); },
                                    [&] { m_acceptor.close(); });
        EXPECT_FALSE(error) << error.message();
        return socket;
    }

    Deadline m_io;
    net::ip::tcp::acceptor m_acceptor {m_io.context()};
};

TEST_F(RelayTargetTest, TargetCloseSendsCloseRequestAndRelayCloseClosesTarget)
{
    auto http = client();
    auto relayClient = relay("CRV-TEST-0009");
    openRoute(*http, *relayClient, "CRV-TEST-0009", "7");
    accept().close();
    const auto closing = relayClient->readUntil([](const RelayMessage& m) { return isPacketOfType(m, "19"); });
    ASSERT_TRUE(closing);
    EXPECT_EQ(closing->bytes, "l2:19e");
    EXPECT_TRUE(eventually([&] { return sandbox().relayCounters().routesOpen == 0; }));

    auto secondRelay = relay("CRV-TEST-0009");
    openRoute(*http, *secondRelay, "CRV-TEST-0009", "7");
    net::ip::tcp::socket target = accept();
    EXPECT_FALSE(secondRelay->close());
    char byte = 0;
    const auto error = m_io.run(
        [&](auto done) { net::async_read(target, net::buffer(&byte, 1), [done](auto e, std::size_t) { done(e); }); },
        [&] { target.close(); });
    EXPECT_EQ(error, net::error::eof);
}

TEST_F(RelayTargetTest, PayloadsReachTheTargetIntactWhetherItKeepsUpOrNot)
{
    auto http = client();
    auto relayClient = relay("CRV-TEST-0009");
    const std::int64_t route = openRoute(*http, *relayClient, "CRV-TEST-0009", "7");
    net::ip::tcp::socket target = accept();

    // Sizes on both sides of the copy threshold (16 KiB), up to the product's largest packet.
    const std::size_t sizes[] = {1, 100, 16 * 1024 - 1, 16 * 1024, 40000, 64 * 1024};
    std::string sent;
    std::vector<std::string> packets;
    // 6.6 MB: more than the target connection's socket buffers hold (4 MiB and a little), so while the target
    // reads nothing, payloads first go straight through, then in part, then wait in the route's queue until the
    // relay pauses reading.
    for (int round = 0; round < 48; ++round) {
        for (const std::size_t size : sizes) {
            std::string payload(size, '\0');
            for (std::size_t i = 0; i < size; ++i) {
                payload[i] = static_cast<char>((sent.size() + i) % 253); // an offset shows up as a mismatch
            }
            packets.push_back(clientPacket(5, route, payload));
            sent += payload;
        }
    }

    std::string received(sent.size(), '\0');
    std::promise<void> allSent;
    auto reading = std::async(std::launch::async, [&, sending = allSent.get_future()] {
        // The target starts reading once everything is sent, or when sending has stalled for want of room.
        sending.wait_for(3s);
        boost::system::error_code error;
        net::read(target, net::buffer(received), error);
        return error;
    });
    for (const std::string& packet : packets) {
        const auto sendError = relayClient->send(packet);
        EXPECT_FALSE(sendError) << sendError.message();
        if (sendError) {
            break;
        }
    }
    allSent.set_value();
    if (reading.wait_for(10s) != std::future_status::ready) {
        target.shutdown(net::socket_base::shutdown_both); // ends the blocked read
    }
    const auto error = reading.get();
    ASSERT_FALSE(error) << error.message();
    EXPECT_TRUE(received == sent) << "the bytes differ from offset "
                                  << std::mismatch(received.begin(), received.end(), sent.begin()).first
            - received.begin();
    EXPECT_TRUE(
        eventually([&] { return sandbox().relayCounters().bytesToTargets == static_cast<std::int64_t>(sent.size()); }));
}

} // namespace
} // namespace vantrel::sandbox::testing
