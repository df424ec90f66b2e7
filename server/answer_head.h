#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <vector>

// What the header lines of one answer say about its body, and the faults in
// them that leave the body unreadable: lengths that disagree or cannot be
// represented, and codings the request did not accept (it asks for identity
// and names no transfer coding).
class AnswerHead
{
public:
    // One header line without its line break: "Name: value".
    void take(QByteArrayView line);

    const QByteArray& contentType() const { return m_contentType; }
    // The announced body length; -1 when none was announced.
    std::int64_t contentLength() const { return m_contentLength; }
    bool chunked() const { return m_chunked; }
    // The WWW-Authenticate values, in order.
    const std::vector<QByteArray>& challenges() const { return m_challenges; }

    // Why the body cannot be taken as it comes; empty when it can.
    QString fault() const;

private:
    void takeLengths(QByteArrayView value);

    QByteArray m_contentType;
    std::int64_t m_contentLength = -1;
    QByteArray m_lengthAsSent;
    QString m_lengthFault;
    QByteArray m_contentCodings;
    QByteArray m_transferCodings;
    bool m_chunked = false;
    std::vector<QByteArray> m_challenges;
};
