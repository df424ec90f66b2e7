#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>

namespace refserver {

// The staff who may use the scripts: a users file of "user:hash" lines, the
// hashes in crypt(3) form as `openssl passwd -6` makes them. Only hashes are
// ever held; the passwords never reach a command line or the environment.
class Credentials
{
public:
    // The users of a file's text, or the message naming the bad line.
    static std::variant<Credentials, std::string> Parse(std::string_view text);
    static std::variant<Credentials, std::string> Load(const std::string& path);

    // The user an "Authorization: Basic …" value signs in, when its user and
    // password are right.
    std::optional<std::string> verify(std::string_view authorization) const;

private:
    // Authorization values already verified, so that a signed-in client does
    // not pay a password hash on every request; keyed by their SHA-256.
    struct Verified
    {
        std::mutex mutex;
        std::map<std::string, std::string> users; // digest → user
    };

    std::map<std::string, std::string, std::less<>> m_hashes; // user → crypt hash
    std::unique_ptr<Verified> m_verified = std::make_unique<Verified>();
};

// A crypt(3) SHA-512 hash of `password` with a fresh salt (for tests and tools).
std::string HashPassword(std::string_view password);

// Failed sign-ins per client: at most `perSecond` in any second are answered;
// beyond that the client is refused without its credentials being looked at,
// so a password cannot be guessed faster than that.
class SignInLimit
{
public:
    using Clock = std::chrono::steady_clock;

    explicit SignInLimit(int perSecond = 10) : m_perSecond(perSecond) {}

    // True when `client` may have its credentials checked now.
    bool allows(const std::string& client, Clock::time_point now = Clock::now());
    void failed(const std::string& client, Clock::time_point now = Clock::now());

private:
    struct Window
    {
        Clock::time_point start;
        int failures = 0;
    };

    int m_perSecond;
    std::mutex m_mutex;
    std::map<std::string, Window> m_clients;
};

} // namespace refserver
