#pragma once

#include <string>
#include "host/CTask.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Connectors {
namespace Product {
namespace Task {

// Agent task: activate the product, with a licence file or, without one, a managed-activation text.
class CProductActivation : public CTask {
public:
    static constexpr Kernel::MessageType Type = 46;
    CProductActivation() : CTask(Type, "ProductActivation") {}

    const std::string& GetManagedActivation() const { return m_managedActivation; }
    void SetManagedActivation(const std::string& text) { m_managedActivation = text; }
    // Raw licence file bytes; empty when the activation is managed.
    const std::string& GetLicenseFile() const { return m_licenseFile; }
    void SetLicenseFile(const std::string& bytes) { m_licenseFile = bytes; }

protected:
    bool TaskContentEquals(const CTask& other) const override {
        const CProductActivation& o = static_cast<const CProductActivation&>(other);
        return m_managedActivation == o.m_managedActivation && m_licenseFile == o.m_licenseFile;
    }

private:
    std::string m_managedActivation;
    std::string m_licenseFile;
};

}  // namespace Task
}  // namespace Product
}  // namespace Connectors
}  // namespace Message
}  // namespace Common
}  // namespace Zun
