#pragma once

#include "customer_table.h"

#include <QDate>
#include <QStringList>

// The quarters of the picker, as its modal results.
enum class Quarter
{
    First = 100,
    Second = 200,
    Third = 300,
    Fourth = 400
};

// The current customers whose anniversary falls in `quarter` of `today`'s
// year, then every customer whose anniversary is missing (a year of "0000",
// a month or a day of "00"). Raises ConversionError "''<m/d/y>'' is not a
// valid date" for an anniversary that is neither missing nor a real date.
QStringList BuildExpiringListing(const TCustomerTable& customers, Quarter quarter, QDate today);

// The quarter holding `date`.
Quarter QuarterOf(QDate date);
