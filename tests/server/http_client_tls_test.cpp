// The transport over HTTPS, against the scripted server's TLS variant with
// certificates made for each run.

#include "http_client.h"
#include "scripted_server.h"
#include "test_certificates.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <optional>
#include <ostream>
#include <string>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

using namespace scripted;
using namespace Qt::Literals::StringLiterals;
using testpki::Authority;
using testpki::Identity;
using testpki::LocalNames;

namespace {

QString At(const ScriptedServer& server, std::string_view path = "/",
           std::string_view host = "127.0.0.1")
{
    return QString::fromStdString(server.address(path, host));
}

// A file in `dir` holding `text`.
QString FileWith(const QTemporaryDir& dir, const QString& name, const std::string& text)
{
    const QString path = dir.filePath(name);
    testpki::WriteFile(path.toStdString(), text);
    return path;
}

QString NotVerified(const char* problem)
{
    return u"The server's certificate could not be verified: "_s + QString::fromUtf8(problem) +
           u'.';
}

QString NotMatching(const char* host)
{
    return u"The server's certificate does not match the host name \""_s +
           QString::fromUtf8(host) + u"\"."_s;
}

} // namespace

// The scripted server answers ALPN as a stock Apache does: "http/1.1" even
// when the client offered only "http/1.0", which is what curl offers for an
// HTTP/1.0 request; a client that offers anything fails with "bad extension".
TEST(HttpClientTlsTest, PostsToATrustedServerThatPicksHttp11WhateverIsOffered)
{
    const Authority ca("Tillora Test CA");
    QTemporaryDir dir;
    ScriptedServer server(
        {Answer("HTTP/1.1 200 OK", {"Content-Type: text/plain; charset=UTF-8"}, "Grüße"),
         Answer("HTTP/1.1 200 OK", {}, "again")},
        ca.issue("Tillora test server", LocalNames));
    HttpClient client;
    client.setCaFile(FileWith(dir, u"ca.pem"_s, ca.certificate()));

    EXPECT_EQ(client.Post(At(server, "/manage/datapile.php"), {u"name=Ann Lee"_s}), u"Grüße"_s);
    EXPECT_EQ(client.Post(At(server, "/manage/savecall.php", "localhost"), {}), u"again"_s);

    const auto requests = server.waitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].requestLine(), "POST /manage/datapile.php HTTP/1.0");
    EXPECT_EQ(requests[0].header("Host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(requests[0].body(), "name=Ann+Lee");
    EXPECT_EQ(requests[1].requestLine(), "POST /manage/savecall.php HTTP/1.0");
    EXPECT_EQ(requests[1].header("Host"), "localhost:" + std::to_string(server.port()));
}

// One client goes through every case in turn, so a verdict left over from an
// earlier connection or an authority file read earlier would show.
TEST(HttpClientTlsTest, CertificateProblemsFailTheRequestNamingTheProblem)
{
    const Authority ca("Tillora Test CA");
    const Authority other("Someone Else's CA");
    QTemporaryDir dir;
    const QString caFile = FileWith(dir, u"ca.pem"_s, ca.certificate());
    const QString otherFile = FileWith(dir, u"other.pem"_s, other.certificate());
    const QString notPem = FileWith(dir, u"not.pem"_s, "no certificate here\n");
    const QString missing = dir.filePath(u"missing.pem"_s);

    const struct
    {
        const char* what;
        Identity identity;
        std::optional<QString> caFile; // none: a new client with the built-in setting
        const char* host;
        QString message;
    } cases[] = {
        {"a certificate from an authority the client does not know",
         other.issue("server", LocalNames), caFile, "127.0.0.1",
         NotVerified("unable to get local issuer certificate")},
        {"the private authority, but only the system's are trusted",
         ca.issue("server", LocalNames), std::nullopt, "127.0.0.1",
         NotVerified("unable to get local issuer certificate")},
        {"a self-signed certificate", testpki::SelfSigned("server", LocalNames), caFile,
         "127.0.0.1", NotVerified("self-signed certificate")},
        {"an expired certificate", ca.issue("server", LocalNames, {-30, -1}), caFile, "127.0.0.1",
         NotVerified("certificate has expired")},
        {"a certificate for another host", ca.issue("server", "DNS:tillora.example"), caFile,
         "127.0.0.1", NotMatching("127.0.0.1")},
        {"a certificate for the address, reached by name", ca.issue("server", "IP:127.0.0.1"),
         caFile, "localhost", NotMatching("localhost")},
        {"an authority file that is not there", ca.issue("server", LocalNames), missing,
         "127.0.0.1", u"The certificate authority file \""_s + missing + u"\" could not be loaded."_s},
        {"an authority file without certificates", ca.issue("server", LocalNames), notPem,
         "127.0.0.1", u"The certificate authority file \""_s + notPem + u"\" could not be loaded."_s},
        {"the authority file replaced by another", ca.issue("server", LocalNames), otherFile,
         "127.0.0.1", NotVerified("unable to get local issuer certificate")},
    };
    HttpClient client;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server({Answer("HTTP/1.1 200 OK", {}, "secret")}, c.identity);
        HttpClient fresh;
        HttpClient& used = c.caFile ? client : fresh;
        if (c.caFile)
            client.setCaFile(*c.caFile);
        try {
            used.Post(At(server, "/manage/newguy.php", c.host), {u"txtLN=Lee"_s});
            ADD_FAILURE() << "the request went through";
        } catch (const TransportError& e) {
            EXPECT_EQ(e.message().toStdString(), c.message.toStdString());
        }
        // Nothing went out, in the clear or otherwise, and nothing was tried again.
        const auto requests = server.waitForRequests(1);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].raw, "");
        EXPECT_EQ(server.connectionCount(), 1u);
    }

    client.setCaFile(caFile);
    ScriptedServer trusted({Answer("HTTP/1.1 200 OK", {}, "fine")}, ca.issue("server", LocalNames));
    EXPECT_EQ(client.Post(At(trusted), {}), u"fine"_s);
}
