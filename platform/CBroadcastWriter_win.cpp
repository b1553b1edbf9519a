// The product's side of the broadcast area on Windows: a named section backed by the paging file
// and a named mutex, both created (or opened, when a reader or an earlier writer keeps them alive).
#include "platform/CBroadcastWriter.h"

#include <windows.h>

#include <cstring>

namespace Zun {
namespace Platform {

struct CBroadcastWriter::Objects {
    ::HANDLE mutex = nullptr;
    ::HANDLE section = nullptr;

    ~Objects() {
        if (section != nullptr) {
            ::CloseHandle(section);
        }
        if (mutex != nullptr) {
            ::CloseHandle(mutex);
        }
    }
};

namespace {

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace

CBroadcastWriter::CBroadcastWriter(std::uint32_t localId, std::uint32_t remoteId, std::uint32_t dataSize) {
    std::unique_ptr<Objects> objects(new Objects);
    objects->mutex = ::CreateMutexW(nullptr, FALSE, Wide(MutexName(localId, remoteId)).c_str());
    if (objects->mutex == nullptr) {
        return;
    }
    const std::size_t size = AreaSize(dataSize);
    objects->section =
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size),
                             Wide(AreaName(localId, remoteId)).c_str());
    if (objects->section == nullptr) {
        return;
    }
    void* view = ::MapViewOfFile(objects->section, FILE_MAP_WRITE, 0, 0, size);
    if (view == nullptr) {
        return;
    }
    m_objects = std::move(objects);
    m_view = static_cast<std::uint8_t*>(view);
    m_size = size;
    // A section that existed already may hold an earlier writer's values.
    Lock();
    std::memset(m_view, 0, m_size);
    WriteHeader(dataSize);
    Unlock();
}

CBroadcastWriter::~CBroadcastWriter() {
    if (m_view != nullptr) {
        ::UnmapViewOfFile(m_view);
    }
}

bool CBroadcastWriter::Lock() {
    if (m_objects == nullptr) {
        return false;
    }
    const DWORD result = ::WaitForSingleObject(m_objects->mutex, INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void CBroadcastWriter::Unlock() {
    if (m_objects != nullptr) {
        ::ReleaseMutex(m_objects->mutex);
    }
}

}  // namespace Platform
}  // namespace Zun
