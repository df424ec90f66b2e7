#include "copy_database.h"

#include "store.h"

#include <filesystem>

namespace refserver {

std::string CopyDatabase(const std::string& from, const std::string& to)
{
    // Opening a missing SQLite file would make an empty one.
    if (!IsPostgresAddress(from) && !std::filesystem::is_regular_file(from))
        throw DatabaseError("--copy-db: there is no database file " + from);
    const std::unique_ptr<Store> source = OpenStore(from);
    const std::unique_ptr<Store> target = OpenStore(to);
    const Snapshot data = source->snapshot();
    target->restore(data);
    return "copied " + std::to_string(data.customers.size()) + " customers and " +
           std::to_string(data.calls.size()) + " calls from " + from + " to " + to;
}

} // namespace refserver
