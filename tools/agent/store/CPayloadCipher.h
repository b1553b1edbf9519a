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
    // What the agent found where its key belongs when it started.
    enum class Key { Present, Missing, Empty, Malformed };

    // create (the agent): read the key now (an existing key file is made owner-only first) and tell
    // through KeyState what was found; a key is made only by NewKey, once the agent knows that
    // nothing sealed depends on the old one. Otherwise (readers) only read the key, and only when a
    // payload is first opened.
    CPayloadCipher(const std::string& keyFile, bool create);
    ~CPayloadCipher();
    CPayloadCipher(const CPayloadCipher&) = delete;
    CPayloadCipher& operator=(const CPayloadCipher&) = delete;

    std::string Seal(const std::string& plain);
    // Throws std::runtime_error when the payload was altered or sealed under another key.
    std::string Open(const std::string& sealed);
    static bool IsSealed(const std::string& payload);

    Key KeyState() const { return m_state; }
    // Replaces whatever the key file holds with a new random key.
    void NewKey();
    // Where the key is kept, for the operator: the key file, or on Windows the agent's account.
    std::string KeyName() const;

    static std::string KeyFileFor(const std::string& database) { return database + ".key"; }

private:
    void LoadKey();

    std::string m_keyFile;
    bool m_create;
    Key m_state = Key::Present;
    std::vector<unsigned char> m_key;
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
