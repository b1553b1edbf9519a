#pragma once

#include <cstddef>
#include <memory>

#include "platform/CKernelObject.h"

namespace Zun {
namespace Platform {

// A port section created by the client for a request too large to travel inline. Its views are
// mapped in this process and keep working after the section handle is closed.
class CAlpcSection : public CKernelObject, public std::enable_shared_from_this<CAlpcSection> {
public:
    CAlpcSection(int fd, std::size_t size) : m_fd(fd), m_size(size) {}
    ~CAlpcSection() override;

    int Fd() const { return m_fd; }
    std::size_t Size() const { return m_size; }
    // Maps a view of size bytes (0: the whole section); null on failure.
    void* CreateView(std::size_t size);

    static bool DeleteView(void* base);
    // The section a view was mapped from; null when base is no view of a section.
    static std::shared_ptr<CAlpcSection> SectionOfView(const void* base);

private:
    int m_fd;
    std::size_t m_size;
};

}  // namespace Platform
}  // namespace Zun
