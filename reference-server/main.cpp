// tillora-server: the vendor's server scripts on SQLite, on a loopback
// address behind the nginx front. See README.md.

#include "dates.h"
#include "demo_data.h"
#include "options.h"
#include "scripts.h"
#include "store.h"
#include "credentials.h"
#include "copy_database.h"

#include <cstdio>
#include <exception>

#include <sys/stat.h>

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

    // The database, its journal and anything else made here are the
    // server's alone, whoever starts it.
    umask(077);

    if (options.copy) {
        try {
            std::printf("tillora-server: %s\n",
                        CopyDatabase(options.copy->first, options.copy->second).c_str());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tillora-server: %s\n", e.what());
            return 1;
        }
        return 0;
    }

    // Checked before anything else, so that a bad file fails at once.
    std::shared_ptr<const Credentials> credentials;
    if (options.usersFile) {
        auto loaded = Credentials::Load(*options.usersFile);
        if (const auto* error = std::get_if<std::string>(&loaded)) {
            std::fprintf(stderr, "tillora-server: %s\n", error->c_str());
            return 1;
        }
        credentials = std::make_shared<const Credentials>(std::get<Credentials>(std::move(loaded)));
    }

    try {
        const std::unique_ptr<Store> opened = OpenStore(options.database);
        Store& store = *opened;
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
        config.credentials = credentials;
        config.latin1 = options.latin1;
        ReferenceServer server(store, config);
        if (!server.bind(options.host, options.port)) {
            std::fprintf(stderr,
                         "tillora-server: cannot listen on %s:%d (the port is taken or the "
                         "address is not one of this machine's)\n",
                         options.host.c_str(), options.port);
            return 1;
        }
        const bool ipv6 = options.host.find(':') != std::string::npos;
        std::fprintf(stderr, "tillora-server: serving %s on http://%s%s%s:%d/\n",
                     options.database.c_str(), ipv6 ? "[" : "", options.host.c_str(),
                     ipv6 ? "]" : "", server.port());
        server.run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tillora-server: %s\n", e.what());
        return 1;
    }
    return 0;
}
