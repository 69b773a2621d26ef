// corvane-demo-client: does what the application does to create a forward, without a window, for the demo and
// for trying the daemon by hand. It signs in (e-mail, then password), stores the profile, picks the device and
// sends the daemon the new forwards, then waits for the daemon to confirm.
//   corvane-demo-client --email E --password P --device SERIAL --remote-port N --local-port N
// It talks to the service and the daemon that the VANTREL_* variables name (see the sandbox's env file).

#include "core/AsioMainQueue.h"
#include "core/IPCCommand.h"
#include "core/SecureStorage.h"
#include "core/ShellRESTAPI.h"
#include "core/ShellUserDefaults.h"
#include "core/VantrelDaemonUtils.h"

#include "platform/ProgramInfo.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <openssl/rand.h>

#include <cstdio>
#include <iostream>
#include <map>

using namespace vantrel;

namespace {

constexpr auto kDaemonTimeout = std::chrono::seconds(20);

std::string newForwardId()
{
    unsigned char bytes[16];
    RAND_bytes(bytes, sizeof bytes);
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    std::string text;
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
    }
    return text;
}

class DemoClient {
public:
    DemoClient(std::map<std::string, std::string> options, boost::asio::io_context& context)
        : m_options(std::move(options))
        , m_context(context)
    {
    }

    void start()
    {
        VantrelDaemonUtils::addObserverForSettingsChangedAsDaemon([this] { onDaemonConfirmed(); }, false);
        ShellRESTAPI::sharedAPI().connect(m_options["--email"], std::nullopt, [this](auto checked) {
            if (checked.error && checked.errorCount > 1) {
                fail("the service does not know " + m_options["--email"]);
                return;
            }
            signIn();
        });
    }

private:
    void signIn()
    {
        ShellRESTAPI::sharedAPI().connect(m_options["--email"], m_options["--password"], [this](auto signedIn) {
            if (signedIn.error) {
                fail("sign-in failed: " + signedIn.error->description);
            } else if (signedIn.result->msgAuthyToken) {
                fail("this account needs a second factor; use the application");
            } else {
                loadProfile();
            }
        });
    }

    void loadProfile()
    {
        ShellRESTAPI::sharedAPI().getProfileWithToken(std::nullopt, [this](GenericRESTResponse<RESTShellUser> profile) {
            if (profile.error) {
                fail("could not read the profile: " + profile.error->description);
                return;
            }
            SettingsMessage settings = SecureStorage::sharedStorage().getConfig();
            settings.stnUser = profile.result;
            settings.stnAuthToken = ShellUserDefaults::sharedInstance().getAuthToken().value_or("");
            settings.stnVantrelAppChanged = 1;
            send(IPCCommand::kSetSettings, settings.toDictionary());
            loadDevices();
        });
    }

    void loadDevices()
    {
        ShellRESTAPI::sharedAPI().getDevices([this](GenericRESTResponse<Json> devices) {
            if (devices.error || !devices.result || !devices.result->is_array()) {
                fail("could not list the devices");
                return;
            }
            for (const Json& device : *devices.result) {
                if (device.is_object() && device.value("serial", "") == m_options["--device"]) {
                    addForward(device);
                    return;
                }
            }
            fail("the account has no device " + m_options["--device"]);
        });
    }

    void addForward(const Json& device)
    {
        DevicePortAssociation forward;
        forward.ID = newForwardId();
        forward.localPort = m_options["--local-port"];
        forward.remotePort = m_options["--remote-port"];
        forward.device = RESTShellDevice::createFromDict(device);
        Json forwards = SecureStorage::sharedStorage().getData();
        forwards[*textOf(forward.ID)] = forward.toDictionary();
        m_waitingForDaemon = true;
        send(IPCCommand::kSetData, forwards);
        VantrelDaemonUtils::sendSettingsChangedAsDaemon(false);
        m_deadline.expires_after(kDaemonTimeout);
        m_deadline.async_wait([this](const boost::system::error_code& error) {
            if (!error) {
                fail("the daemon did not answer; is VantrelDaemon running on the same bus?");
            }
        });
    }

    void onDaemonConfirmed()
    {
        if (!m_waitingForDaemon) {
            return;
        }
        m_waitingForDaemon = false;
        m_deadline.cancel();
        std::printf("forward ready: localhost:%s -> %s port %s\n", m_options["--local-port"].c_str(),
                    m_options["--device"].c_str(), m_options["--remote-port"].c_str());
        std::fflush(stdout);
        m_context.stop();
    }

    static void send(std::int64_t code, const Json& contents)
    {
        IPCCommand command;
        command.code = code;
        command.data = toCompactJson(contents);
        VantrelDaemonUtils::sendCommandAsDaemon(false, command);
    }

    void fail(const std::string& why)
    {
        std::cerr << "corvane-demo-client: " << why << "\n";
        m_failed = true;
        m_context.stop();
    }

public:
    bool failed() const { return m_failed; }

private:
    std::map<std::string, std::string> m_options;
    boost::asio::io_context& m_context;
    boost::asio::steady_timer m_deadline{m_context};
    bool m_waitingForDaemon = false;
    bool m_failed = false;
};

} // namespace

int main(int argc, char** argv)
{
    std::map<std::string, std::string> options;
    for (int i = 1; i + 1 < argc; i += 2) {
        options[argv[i]] = argv[i + 1];
    }
    for (const char* required : {"--email", "--password", "--device", "--remote-port", "--local-port"}) {
        if (!options.count(required)) {
            std::cerr << "usage: corvane-demo-client --email E --password P --device SERIAL --remote-port N "
                         "--local-port N\n";
            return 2;
        }
    }
    platform::setCurrentProgram({"com.corvane.DemoClient", "1.6", "1.16"});
    static boost::asio::io_context context;
    static AsioMainQueue queue(context.get_executor());
    MainQueue::install(&queue);
    DemoClient client(options, context);
    client.start();
    auto work = boost::asio::make_work_guard(context);
    context.run();
    return client.failed() ? 1 : 0;
}
