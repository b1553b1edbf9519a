#include <stdexcept>

#include "tools/agent/store/CPayloadCipher.h"

#include <windows.h>

#include <wincrypt.h>

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

const std::string kMarker = "QSD1";  // DPAPI: marker, then the protected blob

DATA_BLOB BlobOf(const std::string& data, size_t offset) {
    DATA_BLOB blob;
    blob.cbData = static_cast<DWORD>(data.size() - offset);
    blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(data.data() + offset));
    return blob;
}

std::string Take(DATA_BLOB& blob) {
    std::string data(reinterpret_cast<const char*>(blob.pbData), blob.cbData);
    SecureZeroMemory(blob.pbData, blob.cbData);
    LocalFree(blob.pbData);
    return data;
}

}  // namespace

// DPAPI keeps the key with the account the agent runs under; the key file is not used here.
CPayloadCipher::CPayloadCipher(const std::string& keyFile, bool create)
    : m_keyFile(keyFile), m_create(create) {}

CPayloadCipher::~CPayloadCipher() = default;

void CPayloadCipher::LoadKey() {}

void CPayloadCipher::NewKey() {}

std::string CPayloadCipher::KeyName() const {
    return "DPAPI key of the agent's account";
}

std::string CPayloadCipher::Seal(const std::string& plain) {
    DATA_BLOB in = BlobOf(plain, 0);
    DATA_BLOB out;
    if (!CryptProtectData(&in, L"quil-agent payload", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out)) {
        throw std::runtime_error("cannot protect a payload: error " + std::to_string(GetLastError()));
    }
    return kMarker + Take(out);
}

std::string CPayloadCipher::Open(const std::string& sealed) {
    if (!IsSealed(sealed)) {
        throw std::runtime_error("not a sealed payload");
    }
    DATA_BLOB in = BlobOf(sealed, kMarker.size());
    DATA_BLOB out;
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        throw std::runtime_error("payload altered or protected under another account: error " +
                                 std::to_string(GetLastError()));
    }
    return Take(out);
}

bool CPayloadCipher::IsSealed(const std::string& payload) {
    return payload.compare(0, kMarker.size(), kMarker) == 0;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
