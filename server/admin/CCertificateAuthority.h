#pragma once

#include <string>
#include <vector>

namespace Zun {
namespace Server {

// The server's private CA, in a folder of its own that only the server's user can reach
// (checked as the agent checks its folder: owned by us, not writable by others, no symlinks).
// It holds the CA's key and certificate, the server's key and certificate, and a record of every
// certificate it issued and revoked.
class CCertificateAuthority {
public:
    struct Issued {
        std::string computer;
        std::string serial;    // hex
        std::string notAfter;  // ISO 8601 UTC
        bool revoked = false;
    };

    explicit CCertificateAuthority(const std::string& folder);

    // Makes the CA and the server's certificate (valid for the given DNS names and addresses);
    // refuses when the folder already holds a CA.
    void Init(const std::vector<std::string>& serverNames);
    // Issues a client certificate for the computer and writes an owner-only bundle (its key, its
    // certificate and the CA certificate, PEM) to `bundle`, which must not exist yet.
    Issued Enrol(const std::string& computer, const std::string& bundle, int validDays);
    void Revoke(const std::string& computer);
    std::vector<Issued> List() const;
    // Whether a serial was issued by this CA and not revoked; the link asks on every connect.
    bool IsCurrent(const std::string& serial) const;

    std::string CaCertificateFile() const;
    std::string ServerCertificateFile() const;
    std::string ServerKeyFile() const;

private:
    std::string m_folder;
};

}  // namespace Server
}  // namespace Zun
