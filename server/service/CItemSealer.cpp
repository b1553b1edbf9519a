#include "server/service/CItemSealer.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Server {

using Tools::Agent::CSecretWiper;

namespace {

typedef std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> Context;

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

unsigned char* Bytes(std::string& text) {
    return reinterpret_cast<unsigned char*>(&text[0]);
}

Context NewContext() {
    Context context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!context) {
        throw std::runtime_error("cannot make a cipher context");
    }
    return context;
}

void Check(int result, const char* what) {
    if (result != 1) {
        throw std::runtime_error(std::string("sealing failed: ") + what);
    }
}

}  // namespace

const std::size_t CItemSealer::kKeySize;
const std::size_t CItemSealer::kNonceSize;
const std::size_t CItemSealer::kTagSize;

CItemSealer::CItemSealer(const std::string& key) : m_key(key) {
    if (m_key.size() != kKeySize) {
        CSecretWiper::Wipe(m_key);
        throw std::invalid_argument("the sealing key must have " + std::to_string(kKeySize) + " bytes");
    }
}

CItemSealer::~CItemSealer() {
    CSecretWiper::Wipe(m_key);
}

// Lengths first, so that no field can run into the next.
std::string CItemSealer::AssociatedData(const std::string& computer, const std::string& kind,
                                        const std::string& internalId) {
    std::string data;
    for (const std::string* part : {&computer, &kind, &internalId}) {
        data += std::to_string(part->size()) + ":" + *part + ";";
    }
    return data;
}

std::string CItemSealer::Seal(const std::string& secret, const std::string& associated) const {
    std::string sealed(kNonceSize + secret.size() + kTagSize, '\0');
    Check(RAND_bytes(Bytes(sealed), static_cast<int>(kNonceSize)), "no random nonce");
    Context context = NewContext();
    int length = 0;
    Check(EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, Bytes(m_key), Bytes(sealed)), "init");
    Check(EVP_EncryptUpdate(context.get(), nullptr, &length, Bytes(associated),
                            static_cast<int>(associated.size())),
          "associated data");
    Check(EVP_EncryptUpdate(context.get(), Bytes(sealed) + kNonceSize, &length, Bytes(secret),
                            static_cast<int>(secret.size())),
          "encrypt");
    Check(EVP_EncryptFinal_ex(context.get(), Bytes(sealed) + kNonceSize + length, &length), "final");
    Check(EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize),
                              Bytes(sealed) + kNonceSize + secret.size()),
          "tag");
    return sealed;
}

std::string CItemSealer::Open(const std::string& sealed, const std::string& associated) const {
    if (sealed.size() < kNonceSize + kTagSize) {
        throw std::runtime_error("a sealed item is too short");
    }
    const std::size_t size = sealed.size() - kNonceSize - kTagSize;
    std::string secret(size, '\0');
    std::string tag = sealed.substr(kNonceSize + size);
    Context context = NewContext();
    int length = 0;
    Check(EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, Bytes(m_key), Bytes(sealed)), "init");
    Check(EVP_DecryptUpdate(context.get(), nullptr, &length, Bytes(associated),
                            static_cast<int>(associated.size())),
          "associated data");
    Check(EVP_DecryptUpdate(context.get(), Bytes(secret), &length, Bytes(sealed) + kNonceSize,
                            static_cast<int>(size)),
          "decrypt");
    Check(EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize), Bytes(tag)),
          "tag");
    if (EVP_DecryptFinal_ex(context.get(), Bytes(secret) + length, &length) != 1) {
        CSecretWiper::Wipe(secret);
        throw std::runtime_error("a sealed item does not open: altered, or not this computer's or item's");
    }
    return secret;
}

}  // namespace Server
}  // namespace Zun
