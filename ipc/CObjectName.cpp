#include "ipc/CObjectName.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

namespace {

class CNameWriter {
public:
    explicit CNameWriter(Platform::WCHAR* buffer) : m_buffer(buffer) {}

    void Text(const char* text) {
        for (; text != nullptr && *text != '\0'; ++text) {
            Put(static_cast<Platform::WCHAR>(static_cast<unsigned char>(*text)));
        }
    }
    void Hex(std::uint32_t value) {
        static const char kDigits[] = "0123456789ABCDEF";
        for (int shift = 28; shift >= 0; shift -= 4) {
            Put(static_cast<Platform::WCHAR>(kDigits[(value >> shift) & 0xF]));
        }
    }
    std::size_t Finish() {
        m_buffer[m_length] = 0;
        return m_length;
    }

private:
    void Put(Platform::WCHAR c) {
        if (m_length + 1 < CObjectName::kCapacity) {
            m_buffer[m_length++] = c;
        }
    }

    Platform::WCHAR* m_buffer;
    std::size_t m_length = 0;
};

}  // namespace

std::size_t CObjectName::Format(Platform::WCHAR (&buffer)[kCapacity], const char* prefix, std::uint32_t first,
                                std::uint32_t second, const char* suffix) {
    CNameWriter writer(buffer);
    writer.Text(prefix);
    writer.Text("PIXLINK");
    writer.Hex(first);
    writer.Text("To");
    writer.Hex(second);
    writer.Text(suffix);
    return writer.Finish();
}

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
