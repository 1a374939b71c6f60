#pragma once

#include <QTemporaryDir>

#include <string>

// A test certificate authority and server certificates, made by the openssl
// command in a private temporary directory when the object is made (EC
// keys, so it takes a fraction of a second). Trust the CA through
// CaFile(); every server certificate shares one key.
//
//   Good()        signed by the CA, for IP 127.0.0.1 and DNS localhost
//   Expired()     the same names, signed by the CA, validity over
//   OtherName()   signed by the CA, for DNS other.invalid only
//   Wildcard()    signed by the CA, for DNS *.example.test
//   PartialWildcard()  signed by the CA, for DNS w*.example.test, a name
//                 that browsers refuse to match
//   SelfSigned()  for 127.0.0.1 and localhost, signed by its own key
//
// Throws std::runtime_error with openssl's output when a step fails.
class TestCertificates {
public:
    struct Pair {
        std::string certificate;
        std::string key;
    };

    TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    std::string CaFile() const { return Path("ca.pem"); }
    Pair Good() const { return { Path("good.pem"), Path("server.key") }; }
    Pair Expired() const { return { Path("expired.pem"), Path("server.key") }; }
    Pair OtherName() const { return { Path("other.pem"), Path("server.key") }; }
    Pair Wildcard() const { return { Path("wildcard.pem"), Path("server.key") }; }
    Pair PartialWildcard() const { return { Path("partial.pem"), Path("server.key") }; }
    Pair SelfSigned() const { return { Path("self.pem"), Path("server.key") }; }

private:
    std::string Path(const std::string& name) const;
    void Run(const QStringList& arguments) const;
    // Signs the request for the server key with the CA.
    void SignWithCa(const std::string& name, const std::string& subjectAltName, int days,
                    int serial) const;

    QTemporaryDir m_directory;
};
