#pragma once

#include <QString>

namespace vantero::test {

// A self-signed certificate for 127.0.0.1 made on the spot, valid for a day: a test that needs a
// TLS server it may trust (or not) makes one, so no key or expiry date lives in the sources.
struct TTestCertificate {
    QString certFile; // PEM
    QString keyFile;  // PEM, unencrypted
    QString error;    // empty when both files were written

    bool ok() const { return error.isEmpty(); }
};

// Writes <name>-cert.pem and <name>-key.pem into folder.
TTestCertificate MakeTestCertificate(const QString& folder, const QString& name);

} // namespace vantero::test
