#pragma once

// Reads printed PDFs back with poppler's command-line tools.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// Runs `tool` (pdftotext, pdfinfo, ...) and returns what it prints.
inline QByteArray Poppler(const QString& tool, const QStringList& args)
{
    QProcess p;
    p.start(tool, args);
    p.waitForFinished(-1);
    EXPECT_EQ(p.exitCode(), 0) << tool.toStdString() << ": "
                               << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}
