#pragma once

#include <string>
#include <vector>

namespace Zun {
namespace Server {

// The server's private CA, in a folder of its own that only the server's user can reach
// (checked as the agent checks its folder: owned by us, not writable by others, no symlinks).
// It holds the CA's key and certificate, the server's key and certificate, and a record of every
// certificate it issued and revoked (one small file per serial under issued/).
//
// Keys are EC P-256, which every TLS 1.3 stack accepts. Private keys are written owner-only and
// exclusively, never through a symlink, and never leave the process other than into those files.
class CCertificateAuthority {
public:
    struct Issued {
        std::string computer;
        std::string serial;    // hex, as CPeerCertificate::SerialOf reports it
        std::string notAfter;  // ISO 8601 UTC
        bool revoked = false;
    };

    // Common names are kept to what a host name may hold, so that a name is never mistaken for
    // another in logs, files or the server's records.
    static const std::size_t kMaxComputerName = 64;

    explicit CCertificateAuthority(const std::string& folder);

    // Makes the CA and the server's certificate (valid for the given DNS names and addresses, and
    // always for localhost and 127.0.0.1); refuses when the folder already holds a CA.
    void Init(const std::vector<std::string>& serverNames);
    // Issues a client certificate for the computer and writes an owner-only bundle (its key, its
    // certificate and the CA certificate, PEM) to `bundle`, which must not exist yet. A negative
    // validDays issues a certificate that has expired already (for tests of refusal).
    Issued Enrol(const std::string& computer, const std::string& bundle, int validDays);
    // Marks every certificate issued to the computer revoked; throws when it has none.
    void Revoke(const std::string& computer);
    std::vector<Issued> List() const;
    // Whether a serial was issued by this CA and not revoked; the link asks on every connect.
    bool IsCurrent(const std::string& serial) const;

    std::string CaCertificateFile() const;
    std::string ServerCertificateFile() const;
    std::string ServerKeyFile() const;

    // Throws std::invalid_argument unless the name is 1 to kMaxComputerName letters, digits, '.',
    // '-' or '_', starting with a letter or digit.
    static void CheckComputerName(const std::string& computer);

private:
    std::string CaKeyFile() const;
    std::string IssuedFolder() const;
    std::string RecordFile(const std::string& serial) const;
    void WriteRecord(const Issued& issued) const;
    Issued ReadRecord(const std::string& serial) const;
    void CheckFolder() const;

    std::string m_folder;
};

}  // namespace Server
}  // namespace Zun
