// The reference server over HTTPS: the client's transport and parsers
// against it with certificates made for each run, its refusals of
// certificates and keys it cannot use, the TLS handshake held to the same
// deadline as the request head, and tillora-post's --cacert.

#include "raw_connection.h"
#include "server_fixture.h"

#include "options.h"
#include "test_certificates.h"
#include "tls.h"

#include <QProcess>
#include <QTemporaryDir>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace refserver_test;
using namespace std::chrono_literals;
using refserver::TlsContext;
using testpki::Authority;
using testpki::Identity;
using testpki::LocalNames;
using Clock = std::chrono::steady_clock;

// A certificate authority, its file for the client, and the files of the
// server identities it issues.
class Pki
{
public:
    Pki() : caFile(dir.filePath(u"ca.pem"_s))
    {
        testpki::WriteFile(caFile.toStdString(), ca.certificate());
    }

    std::string path(const QString& name) const { return dir.filePath(name).toStdString(); }

    // The server's context for `identity`, loaded as --tls-cert and --tls-key do.
    std::shared_ptr<const TlsContext> context(const Identity& identity)
    {
        const std::string certificate = path(u"server%1.pem"_s.arg(++m_files));
        const std::string key = path(u"server%1.key"_s.arg(m_files));
        testpki::WriteFile(certificate, identity.certificate);
        testpki::WriteFile(key, identity.key);
        auto loaded = TlsContext::Load(certificate, key);
        if (const auto* error = std::get_if<std::string>(&loaded))
            throw std::runtime_error(*error);
        return std::get<std::shared_ptr<const TlsContext>>(loaded);
    }

    ServerConfig config(const Identity& identity)
    {
        ServerConfig c = ServerFixture::quietConfig();
        c.tls = context(identity);
        return c;
    }

    QTemporaryDir dir;
    Authority ca{"Tillora Test CA"};
    QString caFile;

private:
    int m_files = 0;
};

HttpClient& Trusting(HttpClient& client, const Pki& pki)
{
    client.setCaFile(pki.caFile);
    return client;
}

// A TLS client that completes the handshake and then writes and reads
// exactly what the test says; it does not check the certificate.
class RawTlsConnection
{
public:
    explicit RawTlsConnection(int port) : m_socket(port)
    {
        m_context = SSL_CTX_new(TLS_client_method());
        m_ssl = m_context ? SSL_new(m_context) : nullptr;
        if (!m_ssl || SSL_set_fd(m_ssl, m_socket.fd()) != 1 || SSL_connect(m_ssl) != 1)
            throw std::runtime_error("the TLS handshake with the test server failed");
    }
    ~RawTlsConnection()
    {
        SSL_free(m_ssl);
        SSL_CTX_free(m_context);
        ERR_clear_error();
    }

    void send(std::string_view bytes)
    {
        std::size_t written = 0;
        SSL_write_ex(m_ssl, bytes.data(), bytes.size(), &written);
    }

    std::string receive(std::chrono::milliseconds wait)
    {
        const auto deadline = Clock::now() + wait;
        std::string received;
        char buffer[16384];
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{m_socket.fd(), POLLIN, 0};
            if (SSL_pending(m_ssl) == 0 &&
                (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0))
                return received;
            std::size_t n = 0;
            if (SSL_read_ex(m_ssl, buffer, sizeof buffer, &n) != 1)
                return received;
            received.append(buffer, n);
        }
    }

private:
    RawConnection m_socket;
    SSL_CTX* m_context = nullptr;
    SSL* m_ssl = nullptr;
};

std::string Body(const std::string& answer)
{
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

TEST(ReferenceServerTlsTest, TheClientSavesAndLoadsItsListsOverHttps)
{
    Pki pki;
    ServerFixture server(pki.config(pki.ca.issue("Tillora server", LocalNames)));
    HttpClient client;
    Trusting(client, pki);
    client.Post(server.address(u"/manage/newguy.php"), CustomerFields(u"0"_s, u"Zoë"_s, u"Ann"_s));
    // Many TLS records each way: the form out, the list back.
    QStringList large = CustomerFields(u"0"_s, u"Long"_s, u"Lou"_s);
    const QString address = QString(300'000, u'a');
    large[4] = u"txtAD="_s + address;
    client.Post(server.address(u"/manage/newguy.php"), large);
    const TCustomerTable table = LoadActive(client, server);
    ASSERT_EQ(table.CustomerCount(), 2);
    EXPECT_EQ(table.LN(0), u"Long");
    EXPECT_EQ(table.AD(0), address);
    EXPECT_EQ(table.LN(1), u"Zoë");

    // The call dialog reaches the server by name.
    HttpClient callClient;
    Trusting(callClient, pki);
    const QString reply = callClient.Post(
        server.address(u"/manage/savecall.php", u"localhost"),
        {u"ID="_s + QString::number(table.ID(1)), u"direction=Incoming"_s, u"Handler=Anna"_s,
         u"textarea=Over TLS & fine."_s});
    EXPECT_TRUE(reply.startsWith(u"Call saved")) << reply.toStdString();
    const TCallTable calls = LoadCalls(client, server);
    ASSERT_EQ(calls.CallCount(), 1);
    EXPECT_EQ(calls.CallText(0), u"Over TLS & fine.");
    EXPECT_EQ(client.Post(server.address(u"/quickstats.php"), {}),
              u"2 current, 0 expired, 0 dormant customers; 1 calls logged");
}

TEST(ReferenceServerTlsTest, CertificatesThatDoNotVerifyAreRefusedBeforeAnythingIsSent)
{
    Pki pki;
    const Authority other("Someone Else's CA");
    const struct
    {
        const char* what;
        Identity identity;
        const char16_t* host;
        QString message;
    } cases[] = {
        {"a certificate from another authority", other.issue("Tillora server", LocalNames),
         u"127.0.0.1",
         u"The server's certificate could not be verified: unable to get local issuer "
         u"certificate."_s},
        {"a certificate for another host name", pki.ca.issue("Tillora server", "DNS:tillora.example"),
         u"127.0.0.1", u"The server's certificate does not match the host name \"127.0.0.1\"."_s},
        {"a certificate for the address, reached by name",
         pki.ca.issue("Tillora server", "IP:127.0.0.1"), u"localhost",
         u"The server's certificate does not match the host name \"localhost\"."_s},
    };
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString db = pki.dir.filePath(u"refused%1.sqlite"_s.arg(++round));
        {
            ServerFixture server(pki.config(c.identity), db);
            HttpClient client;
            Trusting(client, pki);
            try {
                client.Post(server.address(u"/manage/newguy.php", c.host),
                            CustomerFields(u"0"_s, u"Leak"_s, u"L"_s));
                ADD_FAILURE() << "the request went through";
            } catch (const TransportError& e) {
                EXPECT_EQ(e.message().toStdString(), c.message.toStdString());
            }
        }
        ServerFixture plain(ServerFixture::quietConfig(), db);
        HttpClient reader;
        EXPECT_EQ(LoadActive(reader, plain).CustomerCount(), 0);
    }
}

// A liveness check, not a timing: with a handshake that blocks the accepting
// thread or a worker, the request below waits for its connect time-out.
TEST(ReferenceServerTlsTest, IdleAndHalfDoneHandshakesCannotStallOthers)
{
    Pki pki;
    ServerConfig config = pki.config(pki.ca.issue("Tillora server", LocalNames));
    config.limits.workers = 2;
    config.limits.headTime = 60s;
    ServerFixture server(config);

    std::vector<std::unique_ptr<RawConnection>> stalling;
    for (int i = 0; i < 4; ++i)
        stalling.push_back(std::make_unique<RawConnection>(server.port()));
    // The start of a ClientHello record that announces more than it sends.
    for (int i = 0; i < 4; ++i) {
        stalling.push_back(std::make_unique<RawConnection>(server.port()));
        stalling.back()->send(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11));
    }

    HttpClient client;
    Trusting(client, pki);
    client.setConnectTimeout(10'000);
    EXPECT_EQ(client.Post(server.address(u"/quickstats.php"), {}),
              u"0 current, 0 expired, 0 dormant customers; 0 calls logged");
}

TEST(ReferenceServerTlsTest, TheHeadDeadlineCoversTheHandshake)
{
    Pki pki;
    ServerConfig config = pki.config(pki.ca.issue("Tillora server", LocalNames));
    config.limits.headTime = 1s;
    ServerFixture server(config);

    const struct
    {
        const char* what;
        std::string sent;
    } silent[] = {
        {"nothing at all", ""},
        {"half a handshake", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)},
        {"a plain request", "POST /quickstats.php HTTP/1.0\r\nContent-Length: 0\r\n\r\n"},
    };
    for (const auto& c : silent) {
        SCOPED_TRACE(c.what);
        RawConnection connection(server.port());
        connection.send(c.sent);
        bool closed = false;
        const std::string received = connection.receive(10s, &closed);
        EXPECT_TRUE(closed);
        // No plain answer; TLS alerts are fine.
        EXPECT_EQ(received.find("HTTP/"), std::string::npos) << received;
    }

    // Refusals after the handshake travel over TLS.
    RawTlsConnection late(server.port());
    late.send("POST /quickstats.php HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    const std::string lateAnswer = late.receive(10s);
    EXPECT_EQ(lateAnswer.rfind("HTTP/1.1 408 ", 0), 0u) << lateAnswer;
    EXPECT_EQ(Body(lateAnswer),
              "Error: the request line and headers did not arrive within 1 second.");

    RawTlsConnection large(server.port());
    std::string head = "POST /quickstats.php HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 700; ++i)
        head += "X-Filler-" + std::to_string(i) + ": " + std::string(100, 'y') + "\r\n";
    large.send(head);
    const std::string largeAnswer = large.receive(10s);
    EXPECT_EQ(largeAnswer.rfind("HTTP/1.1 431 ", 0), 0u) << largeAnswer;
    EXPECT_EQ(Body(largeAnswer), "Error: the request line and headers are larger than 64 KiB.");
}

// The answer's writes fail (over TLS with SIGPIPE, which must not end the
// process) and the session is left without a closing record; the server
// serves on.
TEST(ReferenceServerTlsTest, AClientLeavingDuringItsAnswerDoesNotEndTheServer)
{
    Pki pki;
    ServerFixture server(pki.config(pki.ca.issue("Tillora server", LocalNames)));
    HttpClient client;
    Trusting(client, pki);
    QStringList large = CustomerFields(u"0"_s, u"Long"_s, u"Lou"_s);
    large[4] = u"txtAD="_s + QString(900'000, u'a');
    client.Post(server.address(u"/manage/newguy.php"), large);

    for (int i = 0; i < 3; ++i) {
        RawTlsConnection leaving(server.port());
        leaving.send("POST /manage/datapile.php HTTP/1.0\r\nContent-Length: 0\r\n\r\n");
    }
    EXPECT_EQ(LoadActive(client, server).CustomerCount(), 1);
}

TEST(ReferenceServerTlsTest, RefusesCertificatesAndKeysItCannotUse)
{
    Pki pki;
    const Identity identity = pki.ca.issue("Tillora server", LocalNames);
    const Identity another = pki.ca.issue("Another server", LocalNames);
    const std::string certificate = pki.path(u"server.pem"_s);
    const std::string key = pki.path(u"server.key"_s);
    const std::string otherKey = pki.path(u"other.key"_s);
    const std::string locked = pki.path(u"locked.key"_s);
    const std::string missing = pki.path(u"missing.pem"_s);
    testpki::WriteFile(certificate, identity.certificate);
    testpki::WriteFile(key, identity.key);
    testpki::WriteFile(otherKey, another.key);
    {
        BIO* in = BIO_new_mem_buf(identity.key.data(), int(identity.key.size()));
        EVP_PKEY* pkey = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
        BIO* out = BIO_new_file(locked.c_str(), "w");
        ASSERT_TRUE(pkey && out);
        PEM_write_bio_PrivateKey(out, pkey, EVP_aes_128_cbc(),
                                 reinterpret_cast<const unsigned char*>("secret"), 6, nullptr,
                                 nullptr);
        BIO_free(out);
        EVP_PKEY_free(pkey);
        BIO_free(in);
    }

    const struct
    {
        const char* what;
        std::string certificate;
        std::string key;
        std::string message;
    } cases[] = {
        {"no certificate file", missing, key,
         "cannot read the certificate file " + missing + ": No such file or directory"},
        {"no key file", certificate, missing,
         "cannot read the key file " + missing + ": No such file or directory"},
        {"a key where the certificate belongs", key, key,
         "the certificate file " + key + " holds no PEM certificate"},
        {"a certificate where the key belongs", certificate, certificate,
         "the key file " + certificate + " holds no PEM private key without a passphrase"},
        {"a key behind a passphrase", certificate, locked,
         "the key file " + locked + " holds no PEM private key without a passphrase"},
        {"the key of another certificate", certificate, otherKey,
         "the private key in " + otherKey + " does not match the certificate in " + certificate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto loaded = TlsContext::Load(c.certificate, c.key);
        ASSERT_TRUE(std::holds_alternative<std::string>(loaded));
        EXPECT_EQ(std::get<std::string>(loaded), c.message);
    }
    EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const TlsContext>>(
        TlsContext::Load(certificate, key)));
}

TEST(ReferenceServerTlsTest, TheTlsOptionsGoTogether)
{
    using refserver::Options;
    const auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "tillora-server");
        return refserver::ParseOptions(int(args.size()), args.data());
    };
    const auto both = parse({"--tls-cert", "server.pem", "--tls-key", "server.key"});
    ASSERT_TRUE(std::holds_alternative<Options>(both));
    EXPECT_EQ(std::get<Options>(both).tlsCertificate, "server.pem");
    EXPECT_EQ(std::get<Options>(both).tlsKey, "server.key");
    EXPECT_FALSE(std::get<Options>(parse({})).tlsCertificate.has_value());

    const std::pair<std::vector<const char*>, std::string> bad[] = {
        {{"--tls-cert", "server.pem"}, "--tls-cert and --tls-key go together"},
        {{"--tls-key", "server.key"}, "--tls-cert and --tls-key go together"},
        {{"--tls-key", "server.key", "--tls-cert"}, "--tls-cert needs a file name"},
        {{"--tls-cert", "", "--tls-key", "k"}, "--tls-cert needs a file name"},
    };
    for (const auto& [args, message] : bad) {
        const auto parsed = parse(args);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << message;
        EXPECT_EQ(std::get<std::string>(parsed), message);
    }
}

TEST(TilloraPostTlsTest, CacertTrustsAPrivateAuthority)
{
    Pki pki;
    ServerFixture server(pki.config(pki.ca.issue("Tillora server", LocalNames)));
    const QString address = server.address(u"/quickstats.php");
    const QString missing = pki.dir.filePath(u"missing.pem"_s);

    const struct
    {
        const char* what;
        QStringList arguments;
        int exitCode;
        QString out;
        QString err;
    } cases[] = {
        {"the private authority", {u"--cacert"_s, pki.caFile, address}, 0,
         u"0 current, 0 expired, 0 dormant customers; 0 calls logged\n"_s, {}},
        {"the system's authorities only", {address}, 1, {},
         u"The server's certificate could not be verified: unable to get local issuer "
         u"certificate.\n"_s},
        {"an authority file that is not there", {u"--cacert"_s, missing, address}, 1, {},
         u"The certificate authority file \""_s + missing + u"\" could not be loaded.\n"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QProcess post;
        post.start(QStringLiteral(TILLORA_POST_PATH), c.arguments);
        ASSERT_TRUE(post.waitForFinished(60'000));
        EXPECT_EQ(post.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(post.exitCode(), c.exitCode);
        EXPECT_EQ(QString::fromUtf8(post.readAllStandardOutput()), c.out);
        EXPECT_EQ(QString::fromUtf8(post.readAllStandardError()), c.err);
    }

    QProcess bare;
    bare.start(QStringLiteral(TILLORA_POST_PATH), {u"--cacert"_s});
    ASSERT_TRUE(bare.waitForFinished(60'000));
    EXPECT_EQ(bare.exitCode(), 2);
    EXPECT_TRUE(bare.readAllStandardError().contains("[--cacert FILE]"));
}

} // namespace
