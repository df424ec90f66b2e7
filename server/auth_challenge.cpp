#include "auth_challenge.h"

namespace {

// The scheme names of the challenges in WWW-Authenticate values, in order.
// A challenge list is comma-separated; parameters ("realm=...") are not names.
std::vector<QByteArray> ChallengeSchemes(const std::vector<QByteArray>& headers)
{
    std::vector<QByteArray> schemes;
    for (const QByteArray& header : headers) {
        QByteArray piece;
        bool quoted = false;
        auto flush = [&] {
            const QByteArray item = piece.trimmed();
            const qsizetype space = item.indexOf(' ');
            const QByteArray token = space < 0 ? item : item.first(space);
            if (!token.isEmpty() && !token.contains('='))
                schemes.push_back(token);
            piece.clear();
        };
        for (const char c : header) {
            if (c == '"')
                quoted = !quoted;
            if (c == ',' && !quoted)
                flush();
            else
                piece += c;
        }
        flush();
    }
    return schemes;
}

} // namespace

AuthScheme FirstKnownScheme(const std::vector<QByteArray>& headers)
{
    for (const QByteArray& name : ChallengeSchemes(headers)) {
        const QByteArray lower = name.toLower();
        if (lower == "basic")
            return AuthScheme::Basic;
        if (lower == "digest")
            return AuthScheme::Digest;
        if (lower == "ntlm")
            return AuthScheme::Ntlm;
        if (lower == "negotiate")
            return AuthScheme::Negotiate;
    }
    return AuthScheme::None;
}
