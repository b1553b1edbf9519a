#include "tools/agent/store/CHandOverMarks.h"

#include <Poco/File.h>

#include <cstring>
#include <stdexcept>

#include "platform/CTrustedPath.h"

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

// Sizes the file before it is mapped: a mapping cannot grow its file. Only when its size is another:
// Windows refuses to set the end of a file that some view maps.
Poco::File Sized(const std::string& path, std::size_t bytes) {
    Poco::File file(path);
    if (file.getSize() != bytes) {
        file.setSize(bytes);
    }
    return file;
}

}  // namespace

CHandOverMarks::CHandOverMarks(const std::string& path, std::size_t slots)
    : m_left(Read(path)),
      m_count(slots),
      m_memory(Sized(path, slots * sizeof(int64_t)), Poco::SharedMemory::AM_WRITE),
      m_slots(reinterpret_cast<int64_t*>(m_memory.begin())) {}

// Any complete slot of the file counts, whatever size an earlier version gave it; a slot that holds no
// sequence is empty.
std::vector<int64_t> CHandOverMarks::Read(const std::string& path) {
    const std::string bytes = Platform::CTrustedPath::ReadTrustedFile(path, kMaxFileBytes);
    std::vector<int64_t> left;
    for (std::size_t at = 0; at + sizeof(int64_t) <= bytes.size(); at += sizeof(int64_t)) {
        int64_t sequence = 0;
        std::memcpy(&sequence, bytes.data() + at, sizeof sequence);
        if (sequence > 0) {
            left.push_back(sequence);
        }
    }
    return left;
}

void CHandOverMarks::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::memset(m_slots, 0, m_count * sizeof(int64_t));
    m_left.clear();
    m_tail = m_head;
}

bool CHandOverMarks::Mark(int64_t sequence) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_head - m_tail == m_count) {
        return false;
    }
    m_slots[m_head % m_count] = sequence;
    ++m_head;
    return true;
}

CHandOverMarks::Pending CHandOverMarks::Unfolded() const {
    std::lock_guard<std::mutex> guard(m_lock);
    Pending pending;
    pending.through = m_head;
    for (uint64_t at = m_tail; at < m_head; ++at) {
        pending.sequences.push_back(m_slots[at % m_count]);
    }
    return pending;
}

void CHandOverMarks::Release(uint64_t through) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (; m_tail < through && m_tail < m_head; ++m_tail) {
        m_slots[m_tail % m_count] = 0;
    }
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
