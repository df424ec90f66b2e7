#include "endpoints.h"

namespace Endpoints {

QString Address(const QString& baseAddress, QStringView path)
{
    return QString(baseAddress).append(path);
}

QString DormantMoveAddress(const QString& baseAddress, std::int32_t customerId)
{
    return Address(baseAddress, DormantMove).append(u"?ID=").append(QString::number(customerId));
}

} // namespace Endpoints
