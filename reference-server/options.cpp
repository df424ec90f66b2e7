#include "options.h"

#include <charconv>
#include <string_view>

namespace refserver {

const char UsageText[] =
    "usage: tillora-server [options]\n"
    "\n"
    "Serves the Tillora server scripts from an SQLite database.\n"
    "\n"
    "  --listen ADDR:PORT     address to listen on (default 127.0.0.1:8080)\n"
    "  --db FILE              database file (default tillora.sqlite)\n"
    "  --demo                 fill an empty database with demo data\n"
    "  --generate N,M         fill an empty database with N synthetic customers and M calls\n"
    "  --auth USER:PASSWORD   require Basic authentication on every script\n"
    "  --latin1               answer in ISO-8859-1 without a charset parameter\n"
    "  --tls-cert FILE        serve HTTPS with this PEM certificate (chain), with --tls-key\n"
    "  --tls-key FILE         the certificate's PEM private key, without a passphrase\n"
    "  --help                 show this text\n";

namespace {

bool ParseNumber(std::string_view text, long& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

std::variant<Options, std::string> ParseOptions(int argc, const char* const* argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string_view v;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--demo") {
            o.demo = true;
        } else if (arg == "--latin1") {
            o.latin1 = true;
        } else if (arg == "--listen") {
            if (!value(v))
                return std::string("--listen needs ADDR:PORT");
            const std::size_t colon = v.rfind(':');
            long port = 0;
            if (colon == std::string_view::npos || colon == 0 ||
                !ParseNumber(v.substr(colon + 1), port) || port < 0 || port > 65535)
                return "--listen needs ADDR:PORT with a port from 0 to 65535, not \"" +
                       std::string(v) + "\"";
            o.host = std::string(v.substr(0, colon));
            o.port = int(port);
        } else if (arg == "--db") {
            if (!value(v) || v.empty())
                return std::string("--db needs a file name");
            o.database = std::string(v);
        } else if (arg == "--auth") {
            if (!value(v) || v.find(':') == std::string_view::npos || v.find(':') == 0)
                return std::string("--auth needs USER:PASSWORD");
            o.user = std::string(v.substr(0, v.find(':')));
            o.password = std::string(v.substr(v.find(':') + 1));
        } else if (arg == "--tls-cert" || arg == "--tls-key") {
            if (!value(v) || v.empty())
                return std::string(arg) + " needs a file name";
            (arg == "--tls-cert" ? o.tlsCertificate : o.tlsKey) = std::string(v);
        } else if (arg == "--generate") {
            long n = 0, m = 0;
            const std::size_t comma = v.npos;
            if (!value(v) || v.find(',') == comma || !ParseNumber(v.substr(0, v.find(',')), n) ||
                !ParseNumber(v.substr(v.find(',') + 1), m) || n < 0 || m < 0 || (n == 0 && m > 0))
                return std::string("--generate needs N,M: two counts, customers and calls "
                                   "(calls need at least one customer)");
            o.generate = std::make_pair(n, m);
        } else {
            return "unknown option \"" + std::string(arg) + "\"";
        }
    }
    if (o.demo && o.generate)
        return std::string("--demo and --generate cannot be combined");
    if (o.tlsCertificate.has_value() != o.tlsKey.has_value())
        return std::string("--tls-cert and --tls-key go together");
    return o;
}

} // namespace refserver
