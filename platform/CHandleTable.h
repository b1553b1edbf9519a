#pragma once

#include <memory>

#include "platform/CKernelObject.h"

namespace Zun {
namespace Platform {

// The process's table of substitute handles. Handle values are never reused, so a stale handle
// finds nothing instead of an unrelated object.
class CHandleTable {
public:
    static HANDLE Insert(std::shared_ptr<CKernelObject> object);
    static std::shared_ptr<CKernelObject> Find(HANDLE handle);
    static bool Close(HANDLE handle);

    template <class T>
    static std::shared_ptr<T> FindAs(HANDLE handle) {
        return std::dynamic_pointer_cast<T>(Find(handle));
    }
};

}  // namespace Platform
}  // namespace Zun
