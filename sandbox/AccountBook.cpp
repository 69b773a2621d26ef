#include "sandbox/AccountBook.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

namespace vantrel::sandbox {

AccountBook::AccountBook(const std::vector<FixtureAccount>& accounts)
    : m_random(std::random_device {}())
{
    for (const FixtureAccount& account : accounts) {
        m_accounts.emplace(normalised(account.email), account);
        m_tokens[account.token] = TokenGrant {normalised(account.email), false};
    }
}

std::string AccountBook::normalised(const std::string& email)
{
    const auto first = email.find_first_not_of(" \t");
    const auto last = email.find_last_not_of(" \t");
    std::string text = first == std::string::npos ? std::string() : email.substr(first, last - first + 1);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const FixtureAccount* AccountBook::findLocked(const std::string& email) const
{
    const auto found = m_accounts.find(normalised(email));
    return found == m_accounts.end() ? nullptr : &found->second;
}

std::string AccountBook::freshTokenLocked(const char* prefix)
{
    return fmt::format("{}-{:016x}{:016x}", prefix, m_random(), m_random());
}

bool AccountBook::knows(const std::string& email) const
{
    std::lock_guard lock(m_mutex);
    return findLocked(email) != nullptr;
}

AccountBook::SignIn AccountBook::signIn(const std::string& email, const std::string& password)
{
    std::lock_guard lock(m_mutex);
    const FixtureAccount* account = findLocked(email);
    if (!account) {
        return {PasswordCheck::unknownEmail, {}};
    }
    if (account->password.empty() || account->password != password) {
        return {PasswordCheck::wrongPassword, {}};
    }
    if (account->secondFactor) {
        std::string preToken = freshTokenLocked("preauth");
        m_tokens[preToken] = TokenGrant {normalised(email), true};
        return {PasswordCheck::secondFactorNeeded, preToken};
    }
    m_tokens[account->token] = TokenGrant {normalised(email), false};
    return {PasswordCheck::signedIn, account->token};
}

std::optional<std::string> AccountBook::verifySecondFactor(const std::string& email, const std::string& code)
{
    std::lock_guard lock(m_mutex);
    const FixtureAccount* account = findLocked(email);
    if (!account || !account->secondFactor || *account->secondFactor != code) {
        return std::nullopt;
    }
    m_tokens[account->token] = TokenGrant {normalised(email), false};
    return account->token;
}

std::optional<std::string> AccountBook::registerAccount(const std::string& email)
{
    std::lock_guard lock(m_mutex);
    if (findLocked(email)) {
        return std::nullopt;
    }
    FixtureAccount account;
    account.email = normalised(email);
    account.token = freshTokenLocked("token");
    account.profile = {{"name", ""}, {"email_verified", false}, {"has_usable_password", false}, {"device_limit", 0}};
    m_tokens[account.token] = TokenGrant {account.email, false};
    std::string token = account.token;
    m_accounts.emplace(account.email, std::move(account));
    return token;
}

void AccountBook::signOut(const std::string& token)
{
    std::lock_guard lock(m_mutex);
    m_tokens.erase(token);
}

std::optional<std::string> AccountBook::emailForToken(const std::string& token) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_tokens.find(token);
    if (found == m_tokens.end() || found->second.preAuthentication) {
        return std::nullopt;
    }
    return found->second.email;
}

Json AccountBook::profile(const std::string& email) const
{
    std::lock_guard lock(m_mutex);
    const FixtureAccount* account = findLocked(email);
    if (!account) {
        return Json();
    }
    Json profile = account->profile;
    profile["email"] = account->email;
    return profile;
}

void AccountBook::setName(const std::string& email, const std::string& name)
{
    std::lock_guard lock(m_mutex);
    if (const auto found = m_accounts.find(normalised(email)); found != m_accounts.end()) {
        found->second.profile["name"] = name;
    }
}

bool AccountBook::setForwardingPorts(const std::string& email, Json ports)
{
    const bool valid = ports.is_null()
        || (ports.is_array()
            && std::all_of(ports.begin(), ports.end(), [](const Json& port) { return port.is_number_integer(); }));
    std::lock_guard lock(m_mutex);
    const auto found = m_accounts.find(normalised(email));
    if (!valid || found == m_accounts.end()) {
        return false;
    }
    if (ports.is_null()) {
        found->second.profile.erase("port_forwarding_ports");
    } else {
        found->second.profile["port_forwarding_ports"] = std::move(ports);
    }
    return true;
}

bool AccountBook::grantsPort(const std::string& email, std::int64_t port) const
{
    std::lock_guard lock(m_mutex);
    const FixtureAccount* account = findLocked(email);
    if (!account) {
        return false;
    }
    const auto list = account->profile.find("port_forwarding_ports");
    if (list == account->profile.end()) {
        return true;
    }
    return std::any_of(list->begin(), list->end(), [&](const Json& granted) {
        return granted.get<std::int64_t>() == -1 || granted.get<std::int64_t>() == port;
    });
}

std::vector<std::string> AccountBook::devicesOf(const std::string& email) const
{
    std::lock_guard lock(m_mutex);
    const FixtureAccount* account = findLocked(email);
    return account ? account->devices : std::vector<std::string>();
}

} // namespace vantrel::sandbox
