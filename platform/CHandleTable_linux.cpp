#include "platform/CHandleTable.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace Zun {
namespace Platform {

DWORD CKernelObject::Wait(DWORD) {
    return WAIT_FAILED;
}

namespace {

struct Table {
    std::mutex lock;
    std::uintptr_t next = 0x1000;
    std::unordered_map<std::uintptr_t, std::shared_ptr<CKernelObject>> objects;
};

Table& TheTable() {
    static Table* table = new Table;  // never destroyed: handles may be closed during exit
    return *table;
}

}  // namespace

HANDLE CHandleTable::Insert(std::shared_ptr<CKernelObject> object) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    const std::uintptr_t value = table.next;
    table.next += 4;
    table.objects[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<CKernelObject> CHandleTable::Find(HANDLE handle) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

bool CHandleTable::Close(HANDLE handle) {
    std::shared_ptr<CKernelObject> object;  // released outside the lock: its destructor may block
    Table& table = TheTable();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.objects.end()) {
        return false;
    }
    object = std::move(found->second);
    table.objects.erase(found);
    return true;
}

}  // namespace Platform
}  // namespace Zun
