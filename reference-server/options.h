#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace refserver {

struct Options
{
    std::string host = "127.0.0.1";
    int port = 8080;
    std::string database = "tillora.sqlite";
    bool demo = false;
    // The users file; without it the scripts need no sign-in.
    std::optional<std::string> usersFile;
    bool latin1 = false;
    std::optional<std::pair<long, long>> generate; // customers, calls
    // --copy-db FROM TO: copy one whole database into an empty one and exit.
    std::optional<std::pair<std::string, std::string>> copy;
    bool help = false;
};

// Loopback names and addresses: the only ones the server listens on or
// answers for; other machines reach it through the nginx front.
bool IsLoopbackHost(std::string_view host);

// The parsed options, or the message that explains what is wrong.
std::variant<Options, std::string> ParseOptions(int argc, const char* const* argv);

extern const char UsageText[];

} // namespace refserver
