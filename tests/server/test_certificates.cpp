#include "test_certificates.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

namespace testpki {

namespace {

[[noreturn]] void Fail(const char* what)
{
    throw std::runtime_error(std::string("test certificate: ") + what);
}

struct KeyDeleter
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateDeleter
{
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using CertificatePtr = std::unique_ptr<X509, CertificateDeleter>;

KeyPtr NewKey()
{
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        Fail("no key");
    return key;
}

std::string Pem(int (*write)(BIO*, const void*), const void* object)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio || write(bio, object) != 1) {
        BIO_free(bio);
        Fail("cannot write PEM");
    }
    BUF_MEM* memory = nullptr;
    BIO_get_mem_ptr(bio, &memory);
    std::string text(memory->data, memory->length);
    BIO_free(bio);
    return text;
}

std::string CertificatePem(X509* certificate)
{
    return Pem([](BIO* b, const void* c) { return PEM_write_bio_X509(b, (X509*)c); }, certificate);
}

std::string KeyPem(EVP_PKEY* key)
{
    return Pem(
        [](BIO* b, const void* k) {
            return PEM_write_bio_PrivateKey(b, (EVP_PKEY*)k, nullptr, nullptr, 0, nullptr,
                                            nullptr);
        },
        key);
}

void AddExtension(X509* certificate, X509V3_CTX& context, int nid, const char* value)
{
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension || X509_add_ext(certificate, extension, -1) != 1)
        Fail("cannot add an extension");
    X509_EXTENSION_free(extension);
}

// An unsigned certificate for `key`, named `commonName`, with a serial of
// its own (a verifier may cache by issuer and serial).
CertificatePtr NewCertificate(EVP_PKEY* key, const std::string& commonName, Validity validity)
{
    static std::atomic<long> serial{1};
    CertificatePtr certificate(X509_new());
    if (!certificate)
        Fail("no certificate");
    X509_set_version(certificate.get(), X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), long(validity.fromDays) * 86400 - 3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), long(validity.toDays) * 86400);
    X509_set_pubkey(certificate.get(), key);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    return certificate;
}

// Server extensions, then the signature of `issuer` (itself when null).
void FinishServerCertificate(X509* certificate, const std::string& altNames, X509* issuer,
                             EVP_PKEY* issuerKey)
{
    X509_set_issuer_name(certificate, X509_get_subject_name(issuer ? issuer : certificate));
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer ? issuer : certificate, certificate, nullptr, nullptr, 0);
    AddExtension(certificate, context, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(certificate, context, NID_key_usage, "critical,digitalSignature");
    AddExtension(certificate, context, NID_ext_key_usage, "serverAuth");
    AddExtension(certificate, context, NID_subject_alt_name, altNames.c_str());
    AddExtension(certificate, context, NID_subject_key_identifier, "hash");
    if (issuer)
        AddExtension(certificate, context, NID_authority_key_identifier, "keyid:always");
    if (X509_sign(certificate, issuerKey, EVP_sha256()) == 0)
        Fail("cannot sign");
}

} // namespace

struct Authority::Keys
{
    KeyPtr key;
    CertificatePtr certificate;
    std::string pem;
};

Authority::Authority(const std::string& name) : m_keys(std::make_unique<Keys>())
{
    m_keys->key = NewKey();
    m_keys->certificate = NewCertificate(m_keys->key.get(), name, {0, 3650});
    X509* ca = m_keys->certificate.get();
    X509_set_issuer_name(ca, X509_get_subject_name(ca));
    X509V3_CTX context;
    X509V3_set_ctx(&context, ca, ca, nullptr, nullptr, 0);
    AddExtension(ca, context, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(ca, context, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca, context, NID_subject_key_identifier, "hash");
    if (X509_sign(ca, m_keys->key.get(), EVP_sha256()) == 0)
        Fail("cannot sign the authority");
    m_keys->pem = CertificatePem(ca);
}

Authority::~Authority() = default;

const std::string& Authority::certificate() const
{
    return m_keys->pem;
}

Identity Authority::issue(const std::string& commonName, const std::string& altNames,
                          Validity validity) const
{
    KeyPtr key = NewKey();
    CertificatePtr certificate = NewCertificate(key.get(), commonName, validity);
    FinishServerCertificate(certificate.get(), altNames, m_keys->certificate.get(),
                            m_keys->key.get());
    return {CertificatePem(certificate.get()), KeyPem(key.get())};
}

Identity SelfSigned(const std::string& commonName, const std::string& altNames)
{
    KeyPtr key = NewKey();
    CertificatePtr certificate = NewCertificate(key.get(), commonName, {});
    FinishServerCertificate(certificate.get(), altNames, nullptr, key.get());
    return {CertificatePem(certificate.get()), KeyPem(key.get())};
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace testpki
