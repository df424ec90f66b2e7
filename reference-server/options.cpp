#include "options.h"

#include "postgres.h"
#include "store.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace refserver {

const char UsageText[] =
    "usage: tillora-server [options]\n"
    "\n"
    "       tillora-server --copy-db FROM TO\n"
    "\n"
    "Serves the Tillora server scripts from an SQLite or PostgreSQL database,\n"
    "on loopback only: other machines reach it through the nginx front\n"
    "(scripts/stack, or the packaged site /etc/nginx/sites-available/tillora).\n"
    "\n"
    "  --listen ADDR:PORT     loopback address to listen on (default 127.0.0.1:8080)\n"
    "  --db FILE|URI          SQLite database file (default tillora.sqlite), or a\n"
    "                         PostgreSQL database: postgresql://USER@HOST:PORT/NAME;\n"
    "                         the password comes from the password file (PGPASSFILE)\n"
    "                         or PGPASSWORD, never from the command line\n"
    "  --copy-db FROM TO      copy the whole database FROM (file or URI) into the\n"
    "                         empty database TO, in one transaction, and exit\n"
    "  --demo                 fill an empty database with demo data\n"
    "  --generate N,M         fill an empty database with N synthetic customers and M calls\n"
    "  --users FILE           require Basic authentication on every script, for\n"
    "                         the users of FILE (lines user:hash, hashes made\n"
    "                         with: openssl passwd -6)\n"
    "  --latin1               answer in ISO-8859-1 without a charset parameter\n"

    "  --help                 show this text\n";

namespace {

bool ParseNumber(std::string_view text, long& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

bool IsLoopbackHost(std::string_view host)
{
    if (host == "localhost" || host == "::1" || host == "[::1]")
        return true;
    // 127.0.0.0/8, written as four decimal numbers.
    if (!host.starts_with("127."))
        return false;
    int parts = 0;
    for (std::size_t start = 0; start <= host.size(); ++parts) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        long value = -1;
        if (dot == start || dot - start > 3 || !ParseNumber(host.substr(start, dot - start), value) ||
            value > 255)
            return false;
        start = dot + 1;
    }
    return parts == 4;
}

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
            if (o.host.size() > 2 && o.host.front() == '[' && o.host.back() == ']')
                o.host = o.host.substr(1, o.host.size() - 2);
            if (!IsLoopbackHost(o.host))
                return "--listen takes a loopback address (127.0.0.1, ::1 or localhost), not \"" +
                       std::string(v.substr(0, colon)) +
                       "\": other machines reach the server through the nginx front "
                       "(scripts/stack, or the packaged site /etc/nginx/sites-available/tillora)";
            o.port = int(port);
        } else if (arg == "--db") {
            if (!value(v) || v.empty())
                return std::string("--db needs a file name");
            o.database = std::string(v);
            if (IsPostgresAddress(o.database))
                if (std::string problem = PostgresAddressProblem(o.database); !problem.empty())
                    return problem;
        } else if (arg == "--copy-db") {
            std::string_view to;
            if (!value(v) || !value(to) || v.empty() || to.empty())
                return std::string("--copy-db needs two databases, FROM and TO");
            for (std::string_view db : {v, to})
                if (IsPostgresAddress(std::string(db)))
                    if (std::string problem = PostgresAddressProblem(std::string(db));
                        !problem.empty())
                        return problem;
            if (v == to)
                return std::string("--copy-db needs two different databases");
            o.copy = std::make_pair(std::string(v), std::string(to));
        } else if (arg == "--users") {
            if (!value(v) || v.empty())
                return std::string("--users needs a file name");
            o.usersFile = std::string(v);
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
    if (o.copy && (o.demo || o.generate))
        return std::string("--copy-db cannot be combined with --demo or --generate");
    return o;
}

} // namespace refserver
