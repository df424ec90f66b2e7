#include "credentials.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>
#include <sstream>
#include <vector>

namespace refserver {

namespace {

// Verified values kept at most; past it the cache starts again.
constexpr std::size_t MaxVerified = 1024;

std::string_view Trimmed(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

std::optional<std::string> DecodeBase64(std::string_view text)
{
    if (text.empty() || text.size() % 4 != 0 || text.size() > 4096)
        return std::nullopt;
    std::vector<unsigned char> out(text.size() / 4 * 3);
    const int size = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                     int(text.size()));
    if (size < 0)
        return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t length = std::size_t(size);
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && length > 0; --i)
        --length;
    return std::string(reinterpret_cast<const char*>(out.data()), length);
}

std::string Sha256(std::string_view text)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

// A hash crypt(3) can check: "$id$…" of a known method.
bool IsCryptHash(std::string_view hash)
{
    if (hash.size() < 4 || hash[0] != '$')
        return false;
    struct crypt_data data = {};
    const std::string copy(hash);
    const char* result = crypt_r("probe", copy.c_str(), &data);
    return result && result[0] != '*';
}

} // namespace

std::variant<Credentials, std::string> Credentials::Parse(std::string_view text)
{
    Credentials credentials;
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t colon = line.find(':');
        const std::string where = "line " + std::to_string(number);
        if (colon == std::string_view::npos || colon == 0)
            return where + " is not \"user:hash\"";
        const std::string user(line.substr(0, colon));
        const std::string_view hash = line.substr(colon + 1);
        if (!IsCryptHash(hash))
            return where + ": the password of \"" + user +
                   "\" is not a crypt hash (make one with: openssl passwd -6)";
        if (!credentials.m_hashes.emplace(user, hash).second)
            return where + ": the user \"" + user + "\" is listed twice";
    }
    if (credentials.m_hashes.empty())
        return std::string("the users file names no user");
    return credentials;
}

std::variant<Credentials, std::string> Credentials::Load(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return "cannot read the users file " + path;
    std::ostringstream text;
    text << file.rdbuf();
    auto parsed = Parse(text.str());
    if (auto* error = std::get_if<std::string>(&parsed))
        return "the users file " + path + ": " + *error;
    return parsed;
}

std::optional<std::string> Credentials::verify(std::string_view authorization) const
{
    constexpr std::string_view Scheme = "basic ";
    // The scheme's name is case-blind.
    if (authorization.size() <= Scheme.size() ||
        !std::equal(Scheme.begin(), Scheme.end(), authorization.begin(),
                    [](char a, char b) { return a == std::tolower((unsigned char)b); }))
        return std::nullopt;
    const std::string_view encoded = Trimmed(authorization.substr(Scheme.size()));

    const std::string key = Sha256(encoded);
    {
        std::lock_guard lock(m_verified->mutex);
        if (const auto known = m_verified->users.find(key); known != m_verified->users.end())
            return known->second;
    }

    const std::optional<std::string> pair = DecodeBase64(encoded);
    if (!pair)
        return std::nullopt;
    const std::size_t colon = pair->find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const std::string user = pair->substr(0, colon);
    const std::string password = pair->substr(colon + 1);
    const auto entry = m_hashes.find(user);
    // An unknown user costs the same hash as a known one.
    const std::string& hash = entry != m_hashes.end() ? entry->second : m_hashes.begin()->second;
    struct crypt_data data = {};
    const char* result = crypt_r(password.c_str(), hash.c_str(), &data);
    const bool matches = result && std::string_view(result).size() == hash.size() &&
                         CRYPTO_memcmp(result, hash.data(), hash.size()) == 0;
    OPENSSL_cleanse(&data, sizeof data);
    if (!matches || entry == m_hashes.end())
        return std::nullopt;

    std::lock_guard lock(m_verified->mutex);
    if (m_verified->users.size() >= MaxVerified)
        m_verified->users.clear();
    m_verified->users.emplace(key, user);
    return user;
}

std::string HashPassword(std::string_view password)
{
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$6$", 0, nullptr, 0, salt, sizeof salt))
        throw std::runtime_error("cannot make a password salt");
    struct crypt_data data = {};
    const std::string copy(password);
    const char* hash = crypt_r(copy.c_str(), salt, &data);
    if (!hash || hash[0] == '*')
        throw std::runtime_error("cannot hash a password");
    return hash;
}

bool SignInLimit::allows(const std::string& client, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_clients.find(client);
    if (it == m_clients.end())
        return true;
    if (now - it->second.start >= std::chrono::seconds(1)) {
        m_clients.erase(it);
        return true;
    }
    return it->second.failures < m_perSecond;
}

void SignInLimit::failed(const std::string& client, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    // Windows of clients gone quiet are dropped before the map grows large.
    if (m_clients.size() > 10'000)
        std::erase_if(m_clients, [&](const auto& entry) {
            return now - entry.second.start >= std::chrono::seconds(1);
        });
    Window& window = m_clients[client];
    if (window.failures == 0 || now - window.start >= std::chrono::seconds(1))
        window = {now, 0};
    ++window.failures;
}

} // namespace refserver
