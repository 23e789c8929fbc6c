#include "support/TestCertificate.h"

#include <QFile>
#include <QRandomGenerator>

#include <functional>
#include <memory>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace vantero::test {

namespace {

struct TKeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TCertDeleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct TBioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

QString LastError(const char* what) {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLatin1(text));
}

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

bool WritePem(const QString& path, const std::function<int(BIO*)>& write) {
    std::unique_ptr<BIO, TBioDeleter> bio(BIO_new_file(QFile::encodeName(path).constData(), "w"));
    return bio && write(bio.get()) == 1;
}

} // namespace

TTestCertificate MakeTestCertificate(const QString& folder, const QString& name) {
    TTestCertificate made;
    std::unique_ptr<EVP_PKEY, TKeyDeleter> key(EVP_EC_gen("P-256"));
    if (!key) {
        made.error = LastError("key");
        return made;
    }
    std::unique_ptr<X509, TCertDeleter> cert(X509_new());
    X509_set_version(cert.get(), 2);
    // A random serial: two certificates of one run must not look like one to a client.
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), long(QRandomGenerator::global()->bounded(1, 0x7fffffff)));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* subject = X509_get_subject_name(cert.get());
    const QByteArray commonName = "127.0.0.1 " + name.toUtf8();
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.constData()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), subject);
    if (!AddExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !AddExtension(cert.get(), NID_subject_key_identifier, "hash") ||
        !AddExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1")) {
        made.error = LastError("extension");
        return made;
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        made.error = LastError("sign");
        return made;
    }
    made.certFile = folder + QStringLiteral("/%1-cert.pem").arg(name);
    made.keyFile = folder + QStringLiteral("/%1-key.pem").arg(name);
    if (!WritePem(made.certFile, [&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); }) ||
        !WritePem(made.keyFile, [&](BIO* bio) {
            return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        }))
        made.error = LastError("write");
    return made;
}

} // namespace vantero::test
