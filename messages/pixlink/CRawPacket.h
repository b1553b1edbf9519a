#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "messages/pixlink/CBuffer.h"

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {

// A command body made of tagged items.
class CRawPacket {
public:
    // A buffer that either owns its memory or wraps memory owned elsewhere; wrapped memory is never
    // grown or freed here.
    class CAttachableBuffer : public CBuffer {
    public:
        ~CAttachableBuffer() override;

        // Drops any owned memory and wraps length bytes at data with room for capacity bytes.
        void Attach(uint8_t* data, size_t length, size_t capacity);
        bool IsAttached() const { return m_attached; }

    protected:
        bool Reallocate(size_t capacity) override;
        bool Allocate(size_t capacity) override;
        void Free() override;

    private:
        void Forget();

        bool m_attached = false;
    };

    CAttachableBuffer& GetBuffer() { return m_buffer; }
    std::vector<uint8_t> GetBytes() const;

private:
    CAttachableBuffer m_buffer;
};

}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
