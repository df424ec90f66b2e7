#pragma once

#include <QChar>
#include <QStringView>

#include <cstdint>

// A blank is any character whose code is 32 or less.
inline bool IsBlank(QChar c)
{
    return c.unicode() <= 32;
}

QStringView TrimLeft(QStringView text);
QStringView TrimRight(QStringView text);
QStringView Trim(QStringView text);

// Converts a text to a 32-bit signed integer: optional leading spaces, then an
// optional sign or a hexadecimal prefix ("$", "x", "X", "0x", "0X"), then
// digits and nothing after them. Raises ConversionError with the message
// "''<text>'' is not a valid integer value".
std::int32_t StrToInt(QStringView text);
