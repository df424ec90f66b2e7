#include "postgres.h"
#include "postgres_store.h"
#include "sqlite_store.h"
#include "store.h"

namespace refserver {

bool IsPostgresAddress(const std::string& database)
{
    return database.starts_with("postgresql://") || database.starts_with("postgres://");
}

std::unique_ptr<Store> OpenStore(const std::string& database)
{
    if (IsPostgresAddress(database)) {
        if (const std::string problem = PostgresAddressProblem(database); !problem.empty())
            throw DatabaseError(problem);
        return std::make_unique<PostgresStore>(database);
    }
    return std::make_unique<SqliteStore>(database);
}

} // namespace refserver
