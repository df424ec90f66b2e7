#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

// The progress figure of the transfer handlers: the whole percentage of
// `reached` in `maximum`, with two decimals and US separators ("40.00").
// With no announced length there is no percentage: the bytes so far instead.
inline QString ProgressFigure(std::int64_t reached, int maximum, const QString& percentSuffix)
{
    static const QLocale us(QLocale::English, QLocale::UnitedStates);
    if (maximum > 0)
        return us.toString(double(reached * 100 / maximum), 'f', 2) + percentSuffix;
    return us.toString(qlonglong(reached)) + QStringLiteral(" bytes received");
}
