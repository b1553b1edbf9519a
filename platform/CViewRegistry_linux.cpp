#include "platform/CViewRegistry.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/CViewGuard.h"

namespace Zun {
namespace Platform {

namespace {

struct View {
    std::size_t size;
    int file;  // -1 for a view of a section, which keeps its size
};

struct Views {
    std::mutex lock;
    std::map<const char*, View> views;
};

Views& TheViews() {
    static Views* views = new Views;
    return *views;
}

void Insert(void* base, std::size_t size, int file) {
    Views& views = TheViews();
    std::lock_guard<std::mutex> guard(views.lock);
    views.views[static_cast<const char*>(base)] = View{size, file};
}

// What of the view its file still backs; a file that cannot be asked backs nothing.
std::size_t BackedSize(const View& view) {
    if (view.file < 0) {
        return view.size;
    }
    struct stat info;
    if (fstat(view.file, &info) != 0 || info.st_size < 0) {
        return 0;
    }
    return std::min(view.size, static_cast<std::size_t>(info.st_size));
}

}  // namespace

void CViewRegistry::Add(void* base, std::size_t size) {
    Insert(base, size, -1);
}

void CViewRegistry::AddFileView(void* base, std::size_t size, int file) {
    Insert(base, size, file);
}

bool CViewRegistry::Remove(void* base) {
    Views& views = TheViews();
    std::lock_guard<std::mutex> guard(views.lock);
    auto found = views.views.find(static_cast<const char*>(base));
    if (found == views.views.end()) {
        return false;
    }
    CViewGuard::Remove(base);
    munmap(base, found->second.size);
    if (found->second.file >= 0) {
        close(found->second.file);
    }
    views.views.erase(found);
    return true;
}

bool CViewRegistry::Query(const void* address, void*& base, std::size_t& size) {
    Views& views = TheViews();
    std::lock_guard<std::mutex> guard(views.lock);
    const char* at = static_cast<const char*>(address);
    auto next = views.views.upper_bound(at);
    if (next == views.views.begin()) {
        return false;
    }
    --next;
    if (at >= next->first + next->second.size) {
        return false;
    }
    base = const_cast<char*>(next->first);
    size = BackedSize(next->second);
    return true;
}

std::size_t CViewRegistry::Count() {
    Views& views = TheViews();
    std::lock_guard<std::mutex> guard(views.lock);
    return views.views.size();
}

}  // namespace Platform
}  // namespace Zun
