#pragma once

#include <QByteArray>

#include <vector>

// The authentication schemes a client can answer a challenge with.
enum class AuthScheme
{
    None,
    Basic,
    Digest,
    Ntlm,
    Negotiate
};

// The first scheme the client knows among the challenges of the
// WWW-Authenticate values, in order; None when there is none.
AuthScheme FirstKnownScheme(const std::vector<QByteArray>& headers);
