#pragma once

// Certificate authorities and server certificates made when a test runs, so
// that no key material lives in the repository and none of it expires.

#include <memory>
#include <string>

namespace testpki {

// A certificate and its private key, both PEM.
struct Identity
{
    std::string certificate;
    std::string key;
};

struct Validity
{
    int fromDays = 0; // relative to now; negative is in the past
    int toDays = 365;
};

// A self-signed certificate authority with a P-256 key.
class Authority
{
public:
    explicit Authority(const std::string& name);
    ~Authority();
    Authority(const Authority&) = delete;
    Authority& operator=(const Authority&) = delete;

    const std::string& certificate() const;

    // A server certificate for `altNames` in OpenSSL's notation
    // ("DNS:localhost,IP:127.0.0.1").
    Identity issue(const std::string& commonName, const std::string& altNames,
                   Validity validity = {}) const;

private:
    struct Keys;
    std::unique_ptr<Keys> m_keys;
};

// A server certificate signed by its own key, trusted by nobody.
Identity SelfSigned(const std::string& commonName, const std::string& altNames);

// The usual server identity: localhost and 127.0.0.1.
inline const char LocalNames[] = "DNS:localhost,IP:127.0.0.1";

// Throws std::runtime_error when the file cannot be written.
void WriteFile(const std::string& path, const std::string& text);

} // namespace testpki
