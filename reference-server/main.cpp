// tillora-server: the vendor's server scripts on SQLite. See README.md.

#include "dates.h"
#include "demo_data.h"
#include "options.h"
#include "scripts.h"
#include "store.h"
#include "tls.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    using namespace refserver;

    const auto parsed = ParseOptions(argc, argv);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "tillora-server: %s\n\n%s", error->c_str(), UsageText);
        return 2;
    }
    const Options& options = std::get<Options>(parsed);
    if (options.help) {
        std::fputs(UsageText, stdout);
        return 0;
    }

    // Checked before anything else, so that a bad pair fails at once.
    std::shared_ptr<const TlsContext> tls;
    if (options.tlsCertificate) {
        auto loaded = TlsContext::Load(*options.tlsCertificate, *options.tlsKey);
        if (const auto* error = std::get_if<std::string>(&loaded)) {
            std::fprintf(stderr, "tillora-server: %s\n", error->c_str());
            return 1;
        }
        tls = std::get<std::shared_ptr<const TlsContext>>(std::move(loaded));
    }

    try {
        Store store(options.database);
        if (options.generate) {
            if (!store.isEmpty()) {
                std::fprintf(stderr,
                             "tillora-server: --generate needs an empty database; %s "
                             "already holds data\n",
                             options.database.c_str());
                return 1;
            }
            const Dataset data = SyntheticData(int(options.generate->first),
                                               int(options.generate->second), CurrentYear());
            store.bulkInsert(data.customers, data.calls);
        } else if (options.demo && store.isEmpty()) {
            const Dataset data = DemoData(CurrentYear());
            store.bulkInsert(data.customers, data.calls);
        }

        ServerConfig config;
        config.user = options.user;
        config.password = options.password;
        config.latin1 = options.latin1;
        config.tls = tls;
        ReferenceServer server(store, config);
        if (!server.bind(options.host, options.port)) {
            std::fprintf(stderr,
                         "tillora-server: cannot listen on %s:%d (the port is taken or the "
                         "address is not one of this machine's)\n",
                         options.host.c_str(), options.port);
            return 1;
        }
        std::fprintf(stderr, "tillora-server: serving %s on %s://%s:%d/\n",
                     options.database.c_str(), tls ? "https" : "http", options.host.c_str(),
                     server.port());
        server.run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tillora-server: %s\n", e.what());
        return 1;
    }
    return 0;
}
