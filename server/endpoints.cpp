#include "endpoints.h"

#include "tillora/settings.h"

namespace Endpoints {

QString MainAddress(const QString& baseAddress, QStringView path)
{
    return QString(baseAddress).append(path);
}

QString DormantMoveAddress(const QString& baseAddress, std::int32_t customerId)
{
    return QString(baseAddress)
        .append(DormantMove)
        .append(u"?ID=")
        .append(QString::number(customerId));
}

QString MainAddress(QStringView path)
{
    return MainAddress(tillora::settings::ServerBaseAddress, path);
}

QString DormantMoveAddress(std::int32_t customerId)
{
    return DormantMoveAddress(tillora::settings::ServerBaseAddress, customerId);
}

QString SaveCallAddress()
{
    return QString(tillora::settings::CallServerBaseAddress).append(SaveCall);
}

} // namespace Endpoints
