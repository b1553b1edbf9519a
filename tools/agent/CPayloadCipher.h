#pragma once

#include <string>
#include <vector>

namespace Zun {
namespace Tools {
namespace Agent {

// Seals the payloads the agent keeps (serialized recovery data, licence files) before they reach the
// database, so that neither the database nor its write-ahead log ever holds them in plain text. On
// Linux: AES-256-GCM with a random key kept in an owner-only key file beside the database. On Windows:
// DPAPI (CryptProtectData) under the agent's account, so no key file is needed. A sealed payload
// starts with a marker of its kind; anything else was stored before sealing existed.
class CPayloadCipher {
public:
    // create: make the key when it is missing (the agent); otherwise only read it (readers), and only
    // when a payload is first opened.
    CPayloadCipher(const std::string& keyFile, bool create);
    ~CPayloadCipher();
    CPayloadCipher(const CPayloadCipher&) = delete;
    CPayloadCipher& operator=(const CPayloadCipher&) = delete;

    std::string Seal(const std::string& plain);
    // Throws std::runtime_error when the payload was altered or sealed under another key.
    std::string Open(const std::string& sealed);
    static bool IsSealed(const std::string& payload);

    static std::string KeyFileFor(const std::string& database) { return database + ".key"; }

private:
    void LoadKey();

    std::string m_keyFile;
    bool m_create;
    std::vector<unsigned char> m_key;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
