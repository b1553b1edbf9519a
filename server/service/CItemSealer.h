#pragma once

#include <cstddef>
#include <string>

namespace Zun {
namespace Server {

// Seals recovery secrets for the database: AES-256-GCM under the server's key, a fresh random nonce
// for every item, and associated data that names the computer and the item, so that a sealed secret
// copied onto another computer's or item's row no longer opens. A sealed value is nonce, cipher text
// and tag, in that order.
class CItemSealer {
public:
    static const std::size_t kKeySize = 32;
    static const std::size_t kNonceSize = 12;
    static const std::size_t kTagSize = 16;

    // Takes the key's bytes; throws std::invalid_argument unless there are kKeySize of them.
    explicit CItemSealer(const std::string& key);
    ~CItemSealer();
    CItemSealer(const CItemSealer&) = delete;
    CItemSealer& operator=(const CItemSealer&) = delete;

    // The server's key from the owner-only file, made with random bytes on first start. Refuses a
    // file that is not ours, is readable by others, a symlink, or of the wrong size.
    static std::string LoadOrCreateKey(const std::string& path);
    static std::string AssociatedData(const std::string& computer, const std::string& kind,
                                      const std::string& internalId);

    std::string Seal(const std::string& secret, const std::string& associated) const;
    // Throws std::runtime_error when the value was altered or sealed for other associated data.
    std::string Open(const std::string& sealed, const std::string& associated) const;

private:
    std::string m_key;
};

}  // namespace Server
}  // namespace Zun
