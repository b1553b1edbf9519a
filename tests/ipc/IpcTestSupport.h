#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ipc/CLazyBindingTable.h"
#include "tests/support/CServerProcess.h"
#include "tests/support/CTemporaryObjectRoot.h"

namespace Zun {
namespace IpcTest {

using Testing::CServerProcess;
using Testing::CTemporaryObjectRoot;

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

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed = 7);
std::uint32_t Checksum(const std::uint8_t* bytes, std::size_t size);

}  // namespace IpcTest
}  // namespace Zun
