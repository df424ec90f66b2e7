#pragma once

#include <optional>
#include <string>
#include <variant>

namespace refserver {

struct Options
{
    std::string host = "127.0.0.1";
    int port = 8080;
    std::string database = "tillora.sqlite";
    bool demo = false;
    std::optional<std::string> user;
    std::optional<std::string> password;
    bool latin1 = false;
    std::optional<std::pair<long, long>> generate; // customers, calls
    // Both set, or neither: serve HTTPS with this certificate and key.
    std::optional<std::string> tlsCertificate;
    std::optional<std::string> tlsKey;
    bool help = false;
};

// The parsed options, or the message that explains what is wrong.
std::variant<Options, std::string> ParseOptions(int argc, const char* const* argv);

extern const char UsageText[];

} // namespace refserver
