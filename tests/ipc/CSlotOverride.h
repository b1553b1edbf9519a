#pragma once

#include "ipc/CLazyBindingTable.h"

namespace Zun {
namespace IpcTest {

// Puts a replacement into a lazy binding slot for the lifetime of the object.
template <class Fn>
class CSlotOverride {
public:
    CSlotOverride(Connectors::Common::Pixlink::CLazyBindingTable& table, Fn& slot, Fn replacement)
        : m_slot(slot) {
        table.Bind();
        m_original = slot;
        slot = replacement;
    }
    ~CSlotOverride() { m_slot = m_original; }
    Fn Original() const { return m_original; }

private:
    Fn& m_slot;
    Fn m_original;
};

}  // namespace IpcTest
}  // namespace Zun
