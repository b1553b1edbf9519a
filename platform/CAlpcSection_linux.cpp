#include "platform/CAlpcSection.h"

#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "platform/CViewRegistry.h"

namespace Zun {
namespace Platform {

namespace {

struct SectionViews {
    std::mutex lock;
    std::map<const void*, std::weak_ptr<CAlpcSection>> sections;
};

SectionViews& TheSectionViews() {
    static SectionViews* views = new SectionViews;
    return *views;
}

}  // namespace

CAlpcSection::~CAlpcSection() {
    close(m_fd);
}

void* CAlpcSection::CreateView(std::size_t size) {
    if (size == 0) {
        size = m_size;
    }
    if (size > m_size) {
        return nullptr;
    }
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
    if (base == MAP_FAILED) {
        return nullptr;
    }
    CViewRegistry::Add(base, size);
    SectionViews& views = TheSectionViews();
    std::lock_guard<std::mutex> guard(views.lock);
    views.sections[base] = weak_from_this();
    return base;
}

bool CAlpcSection::DeleteView(void* base) {
    SectionViews& views = TheSectionViews();
    std::lock_guard<std::mutex> guard(views.lock);
    if (views.sections.erase(base) == 0) {
        return false;
    }
    return CViewRegistry::Remove(base);
}

std::shared_ptr<CAlpcSection> CAlpcSection::SectionOfView(const void* base) {
    SectionViews& views = TheSectionViews();
    std::lock_guard<std::mutex> guard(views.lock);
    auto found = views.sections.find(base);
    return found == views.sections.end() ? nullptr : found->second.lock();
}

}  // namespace Platform
}  // namespace Zun
