#pragma once

#include "sandbox/Fixture.h"

#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vantrel::sandbox {

/**
 * The service's accounts and sign-in tokens at run time, starting from the fixture. Each fixture token is valid
 * from the start, so a test may use it without signing in. E-mail addresses are matched trimmed and without
 * regard to case. Thread-safe.
 */
class AccountBook {
public:
    enum class PasswordCheck { unknownEmail, wrongPassword, signedIn, secondFactorNeeded };

    struct SignIn {
        PasswordCheck outcome = PasswordCheck::unknownEmail;
        std::string token; ///< the account token, or a pre-authentication token when a second factor is needed
    };

    explicit AccountBook(const std::vector<FixtureAccount>& accounts);

    bool knows(const std::string& email) const;
    SignIn signIn(const std::string& email, const std::string& password);
    /** The account token once the code matches the account's second factor. */
    std::optional<std::string> verifySecondFactor(const std::string& email, const std::string& code);
    /** A new account without password; nothing when the e-mail is taken. */
    std::optional<std::string> registerAccount(const std::string& email);
    void signOut(const std::string& token);

    /** The e-mail of the account a token signs in (pre-authentication tokens sign in nobody). */
    std::optional<std::string> emailForToken(const std::string& token) const;

    /** The profile as "profile/" serves it ("port_forwarding_ports" only when the account has a list). */
    Json profile(const std::string& email) const;
    void setName(const std::string& email, const std::string& name);
    /** Replaces the account's port list (null: no list); false for an unknown e-mail or a malformed list. */
    bool setForwardingPorts(const std::string& email, Json ports);
    /** Whether the account may forward to the port: no list or [-1] grants all ports, [] none. */
    bool grantsPort(const std::string& email, std::int64_t port) const;
    std::vector<std::string> devicesOf(const std::string& email) const;

private:
    struct TokenGrant {
        std::string email;
        bool preAuthentication = false;
    };

    static std::string normalised(const std::string& email);
    const FixtureAccount* findLocked(const std::string& email) const;
    std::string freshTokenLocked(const char* prefix);

    mutable std::mutex m_mutex;
    std::map<std::string, FixtureAccount> m_accounts; ///< by normalised e-mail; guarded by m_mutex
    std::map<std::string, TokenGrant> m_tokens; ///< valid tokens; guarded by m_mutex
    std::mt19937_64 m_random; ///< guarded by m_mutex
};

} // namespace vantrel::sandbox
