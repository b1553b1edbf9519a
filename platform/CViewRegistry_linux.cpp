#include "platform/CViewRegistry.h"

#include <sys/mman.h>

#include <map>
#include <mutex>

#include "platform/CViewGuard.h"

namespace Zun {
namespace Platform {

namespace {

struct Views {
    std::mutex lock;
    std::map<const char*, std::size_t> sizes;
};

Views& TheViews() {
    static Views* views = new Views;
    return *views;
}

}  // namespace

void CViewRegistry::Add(void* base, std::size_t size) {
    Views& views = TheViews();
    std::lock_guard<std::mutex> guard(views.lock);
    views.sizes[static_cast<const char*>(base)] = size;
}

bool CViewRegistry::Remove(void* base) {
    Views& views = TheViews();
    std::lock_guard<std::mutex> guard(views.lock);
    auto found = views.sizes.find(static_cast<const char*>(base));
    if (found == views.sizes.end()) {
        return false;
    }
    CViewGuard::Remove(base);
    munmap(base, found->second);
    views.sizes.erase(found);
    return true;
}

bool CViewRegistry::Query(const void* address, void*& base, std::size_t& size) {
    Views& views = TheViews();
    std::lock_guard<std::mutex> guard(views.lock);
    const char* at = static_cast<const char*>(address);
    auto next = views.sizes.upper_bound(at);
    if (next == views.sizes.begin()) {
        return false;
    }
    --next;
    if (at >= next->first + next->second) {
        return false;
    }
    base = const_cast<char*>(next->first);
    size = next->second;
    return true;
}

std::size_t CViewRegistry::Count() {
    Views& views = TheViews();
    std::lock_guard<std::mutex> guard(views.lock);
    return views.sizes.size();
}

}  // namespace Platform
}  // namespace Zun
