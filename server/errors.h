#pragma once

#include <QString>

#include <exception>
#include <string>

// Every failure in the client is raised as one of these, carrying the exact
// text the operator sees in the error box.
class TilloraError : public std::exception
{
public:
    explicit TilloraError(QString message)
        : m_message(std::move(message)), m_utf8(m_message.toStdString())
    {
    }

    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};

// A text that is not a valid integer.
class ConversionError : public TilloraError
{
public:
    using TilloraError::TilloraError;
};

// A negative record count announced by the server.
class RangeCheckError : public TilloraError
{
public:
    RangeCheckError() : TilloraError(QStringLiteral("Range check error")) {}
};
