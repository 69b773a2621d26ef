#include "core/Crypto.h"
#include "core/Deployment.h"
#include "core/SecureStorage.h"

#include "platform/Log.h"
#include "platform/ProcessRunner.h"
#include "tests/support/FakeAuthority.h"
#include "tests/support/TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace vantrel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string fileContent(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& file, std::string_view content)
{
    std::ofstream(file, std::ios::binary) << content;
}

mode_t modeOf(const std::filesystem::path& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

std::string hexOf(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex.push_back(kHex[c >> 4]);
        hex.push_back(kHex[c & 15]);
    }
    return hex;
}

// Runs the openssl command line with the settings key and a zero IV, Base64 on one line.
void runOpenssl(const std::vector<std::string>& extra)
{
    std::vector<std::string> arguments{"enc", "-aes-256-cbc", "-K",
                                       hexOf(std::string_view(deployment::kSettingsKeyText, 32)), "-iv",
                                       std::string(32, '0'), "-base64", "-A"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const auto outcome = platform::runProcess("/usr/bin/openssl", arguments);
    ASSERT_TRUE(outcome);
    ASSERT_EQ(outcome->exitStatus, 0);
}

class SecureStorageTest : public ::testing::Test {
protected:
    SecureStorageTest()
    {
        auto authority = std::make_unique<testing::FakeAuthority>(platform::AuthorizationStatus::Granted);
        m_authority = authority.get();
        m_storage = std::make_unique<SecureStorage>(folder / "Vantrel", folder / "Tessmark", std::move(authority));
    }

    testing::TempDirectory folder;
    testing::FakeAuthority* m_authority = nullptr;
    std::unique_ptr<SecureStorage> m_storage;
};

TEST_F(SecureStorageTest, FirstUseCreatesTheSharedFolderAndEmptyFilesWithMode0775)
{
    EXPECT_EQ(modeOf(folder / "Vantrel"), 0775u);
    EXPECT_EQ(modeOf(*m_storage->getConfigUrl()), 0775u);
    EXPECT_EQ(modeOf(*m_storage->getDataUrl()), 0775u);
    EXPECT_EQ(m_storage->getConfigUrl()->filename(), "crv_settings.config");
    EXPECT_EQ(m_storage->getDataUrl()->filename(), "crv_data.json");
    EXPECT_FALSE(isPresent(m_storage->getConfig().stnAuthToken));
    EXPECT_EQ(m_storage->getData(), Json::object());
}

TEST_F(SecureStorageTest, SettingsRoundTripThroughOneLineOfBase64)
{
    SettingsMessage settings;
    settings.stnAuthToken = "token-1";
    settings.stnInstallationToTrack = "SERIAL";
    ASSERT_TRUE(m_storage->setConfig(settings));

    const std::string stored = fileContent(*m_storage->getConfigUrl());
    EXPECT_EQ(stored.find_first_of("\r\n{"), std::string::npos);

    SecureStorage other(folder / "Vantrel", folder / "Tessmark", std::make_unique<testing::FakeAuthority>());
    EXPECT_EQ(other.getConfig().toDictionary(), settings.toDictionary());
}

TEST_F(SecureStorageTest, SettingsFileDecryptsWithTheOpensslCommandLine)
{
    const std::string text = R"({"auth_token":"abc","forwards_created":0})";
    ASSERT_TRUE(m_storage->setConfigString(text));
    const auto decrypted = folder / "plain.json";
    runOpenssl({"-d", "-in", m_storage->getConfigUrl()->string(), "-out", decrypted.string()});
    EXPECT_EQ(fileContent(decrypted), text);
}

TEST_F(SecureStorageTest, SettingsEncryptedByTheOpensslCommandLineReadBack)
{
    const auto plain = folder / "plain.json";
    writeFile(plain, R"({"auth_token":"from-openssl","user":{"email":"a@b.c"}})");
    runOpenssl({"-in", plain.string(), "-out", m_storage->getConfigUrl()->string()});
    const SettingsMessage settings = m_storage->getConfig();
    EXPECT_EQ(settings.stnAuthToken, "from-openssl");
    ASSERT_TRUE(settings.stnUser);
    EXPECT_EQ(settings.stnUser->msgEmail, "a@b.c");
}

TEST_F(SecureStorageTest, UnusableSettingsFilesReadAsDefaults)
{
    ASSERT_TRUE(m_storage->setConfigString(R"({"auth_token":"x"})"));
    const std::string good = fileContent(*m_storage->getConfigUrl());
    const crypto::AesKey otherKey("00000000-1111-2222-3333-444444444444");
    const std::vector<std::string> damaged = {
        "",
        "not base64 at all!",
        good.substr(0, good.size() / 2),                                  // truncated
        crypto::base64Encode(crypto::aes256CbcEncrypt(R"({"auth_token":"x"})", otherKey)), // another key
        crypto::base64Encode(crypto::aes256CbcEncrypt("[1,2,3]", crypto::AesKey(deployment::kSettingsKeyText))),
        crypto::base64Encode(crypto::aes256CbcEncrypt("\xff\xfe", crypto::AesKey(deployment::kSettingsKeyText))),
    };
    for (const std::string& content : damaged) {
        SCOPED_TRACE(content);
        writeFile(*m_storage->getConfigUrl(), content);
        const SettingsMessage settings = m_storage->getConfig();
        EXPECT_FALSE(isPresent(settings.stnAuthToken));
        EXPECT_TRUE(settings.stnAssociations.empty());
    }
}

TEST_F(SecureStorageTest, ForwardsFileThatIsNotAnObjectReadsAsEmpty)
{
    for (const char* content : {"[1,2]", "{\"a\":", "", "\"text\""}) {
        ASSERT_TRUE(m_storage->setDataString(content));
        EXPECT_EQ(m_storage->getData(), Json::object()) << content;
    }
    ASSERT_TRUE(m_storage->setData({{"ID-1", {{"id", "ID-1"}}}}));
    EXPECT_EQ(m_storage->getData()["ID-1"]["id"], "ID-1");
    ASSERT_TRUE(m_storage->clearData());
    EXPECT_EQ(fileContent(*m_storage->getDataUrl()), "{}");
}

TEST_F(SecureStorageTest, AFailedWriteLeavesTheOldFileWhole)
{
    ASSERT_TRUE(m_storage->setDataString(R"({"old":{}})"));
    // A full file system: nothing larger than a few bytes can be written by this process.
    struct ResourceLimit {
        rlimit saved{};
        ResourceLimit()
        {
            ::getrlimit(RLIMIT_FSIZE, &saved);
            rlimit small = saved;
            small.rlim_cur = 4;
            ::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &small);
        }
        ~ResourceLimit() { ::setrlimit(RLIMIT_FSIZE, &saved); }
    };
    {
        ResourceLimit limit;
        const Result<void> written = m_storage->setDataString(R"({"new":{"a":"much longer content"}})");
        EXPECT_FALSE(written);
    }
    EXPECT_EQ(fileContent(*m_storage->getDataUrl()), R"({"old":{}})");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "Vantrel"), {}), 2);
}

TEST_F(SecureStorageTest, WritesWithoutAFolderFailAndReadsGiveDefaults)
{
    SecureStorage homeless(std::nullopt, folder / "Tessmark", std::make_unique<testing::FakeAuthority>());
    EXPECT_FALSE(homeless.setConfigString("{}"));
    EXPECT_FALSE(homeless.getConfigUrl());
    EXPECT_EQ(homeless.getData(), Json::object());
    EXPECT_FALSE(isPresent(homeless.getConfig().stnAuthToken));
}

TEST_F(SecureStorageTest, TheLoggedSettingsLineHidesTheToken)
{
    std::vector<std::string> lines;
    {
        LogCapture capture([&lines](std::string_view line) { lines.emplace_back(line); });
        ASSERT_TRUE(m_storage->setConfigString(R"({"auth_token":"secret-token","user":{"email":"a@b.c"}})"));
        ASSERT_TRUE(m_storage->setConfigString(R"(not json "auth_token":"secret-token")"));
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], R"(set settings: {"auth_token":"<redacted>","user":{"email":"a@b.c"}})");
    EXPECT_THAT(lines[1], Not(HasSubstr("secret-token")));
}

TEST(SecureStorageAdmin, AdminGroupsAreWholeWordsInAnyCase)
{
    struct Case {
        const char* output;
        bool admin;
    };
    const Case cases[] = {
        {"staff Admin everyone\n", true}, {"sudo", true}, {"users WHEEL", true},
        {"admins staff", false},          {"", false},    {"sudoers wheelhouse", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SecureStorage::groupsGrantAdmin(c.output), c.admin) << c.output;
    }
}

TEST_F(SecureStorageTest, PreauthorizationAsksForTheForwardsRightAndReportsTheStatus)
{
    AuthorizationRef authorization;
    EXPECT_EQ(m_storage->PreauthorizePrivilegedProcess(authorization), 0);
    EXPECT_EQ(m_authority->checkedActions, std::vector<std::string>{SecureStorage::kManageForwardsAction});
    EXPECT_EQ(m_storage->LaunchPreauthorizedProcess(authorization, "/bin/true"), 0);
    EXPECT_EQ(m_authority->ranTools, std::vector<std::string>{"/bin/true"});
    // The rights are gone after the launch.
    EXPECT_NE(m_storage->LaunchPreauthorizedProcess(authorization, "/bin/true"), 0);

    m_authority->answer = platform::AuthorizationStatus::Dismissed;
    EXPECT_EQ(m_storage->PreauthorizePrivilegedProcess(authorization),
              static_cast<std::int32_t>(platform::AuthorizationStatus::Dismissed));
}

TEST_F(SecureStorageTest, AskForSudoLogsADeniedRightAndStillTriesTheTool)
{
    m_authority->answer = platform::AuthorizationStatus::Dismissed;
    std::vector<std::string> lines;
    LogCapture capture([&lines](std::string_view line) { lines.emplace_back(line); });
    EXPECT_FALSE(m_storage->askForSudo());
    EXPECT_EQ(lines, std::vector<std::string>{"Copy Rights Unsuccessful: 2"});
    EXPECT_EQ(m_authority->ranTools, std::vector<std::string>{"/usr/bin/sudo"});
}

TEST_F(SecureStorageTest, RemoveFinalizerDeletesTheToolAndLogsTheOutcome)
{
    writeFile(folder / "Tessmark", "#!/bin/sh\n");
    std::vector<std::string> lines;
    LogCapture capture([&lines](std::string_view line) { lines.emplace_back(line); });
    m_storage->removeFinalizer();
    m_storage->removeFinalizer();
    EXPECT_FALSE(std::filesystem::exists(folder / "Tessmark"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Success");
    EXPECT_EQ(lines[1], "No such file or directory");
}

} // namespace
} // namespace vantrel
