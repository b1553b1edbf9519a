#pragma once

#include "platform/NtTypes.h"

namespace Zun {
namespace Platform {

// Anything a substitute handle can refer to. Objects that cannot be waited on keep the default.
class CKernelObject {
public:
    virtual ~CKernelObject() = default;
    virtual DWORD Wait(DWORD milliseconds);
};

}  // namespace Platform
}  // namespace Zun
