#include "platform/SignalBus.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDirectory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vantrel::platform {
namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

/** A message bus of the test's own at a fixed address, so that it can be stopped and started again there. */
class PrivateBus {
public:
    explicit PrivateBus(const std::filesystem::path& socket)
        : m_address("unix:path=" + socket.string())
    {
        start();
    }

    void start()
    {
        m_daemon = std::make_unique<testing::ChildProcess>(
            "/usr/bin/dbus-daemon",
            std::vector<std::string>{"--config-file=" VANTREL_PRIVATE_BUS_CONFIG, "--address=" + m_address, "--nofork",
                                     "--print-address"});
        // It prints its address once it accepts connections.
        if (!waitFor([this] { return m_daemon->standardOutput().find('\n') != std::string::npos; })) {
            throw std::runtime_error("the test bus did not start: " + m_daemon->standardError());
        }
    }

    void stop() { m_daemon.reset(); }

    const std::string& address() const { return m_address; }

private:
    std::string m_address;
    std::unique_ptr<testing::ChildProcess> m_daemon;
};

TEST(SignalBus, AConnectionThatTheBusDroppedIsMadeAgainWithItsSubscriptions)
{
    testing::TempDirectory folder;
    PrivateBus bus(folder / "bus");
    auto receiver = SignalBus::connect(bus.address());
    ASSERT_TRUE(receiver);
    std::atomic<int> received{0};
    receiver->subscribe("/com/corvane/Vantrel", "com.corvane.Test", "Ping", false,
                        [&received](const auto&, const auto&) { ++received; });
    {
        auto sender = SignalBus::connect(bus.address());
        sender->emit("/com/corvane/Vantrel", "com.corvane.Test", "Ping", std::nullopt);
        ASSERT_TRUE(waitFor([&] { return received == 1; }));
    }

    bus.stop();  // the receiver loses its connection: it must not end the process
    bus.start(); // and finds the bus again at the same address
    auto sender = SignalBus::connect(bus.address());
    ASSERT_TRUE(sender);
    EXPECT_TRUE(waitFor([&] {
        sender->emit("/com/corvane/Vantrel", "com.corvane.Test", "Ping", std::nullopt);
        std::this_thread::sleep_for(50ms);
        return received >= 2;
    }));
}

} // namespace
} // namespace vantrel::platform
