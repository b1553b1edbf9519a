#pragma once

#include <memory>
#include <string>

namespace Zun {
namespace Platform {

// A Windows security descriptor with an explicit, protected DACL: nothing is inherited from the
// folder above, so what the folder's ACL allows others (ProgramData lets Users read and create)
// never reaches what the agent keeps. Made from SDDL text; handed to the system as the
// lpSecurityDescriptor of SECURITY_ATTRIBUTES or taken apart for SetSecurityInfo. Windows only.
class CSecurityDescriptor {
public:
    // SYSTEM, Administrators and this process's user with full control, inherited by the files
    // and folders made inside: the store, the log, the keys and their folders.
    static CSecurityDescriptor OwnerOnly();
    // SYSTEM and Administrators only: the agent's control pipe, which only administrators may use.
    static CSecurityDescriptor AdministratorsOnly();
    // The SDDL string form of this process's user (S-1-5-21-…, or S-1-5-18 for LocalSystem).
    static std::string CurrentUserSid();
    // The same of another process; empty when it cannot be told.
    static std::string ProcessUserSid(unsigned long processId);

    // The SECURITY_DESCRIPTOR, valid while this object lives.
    void* Get() const { return m_descriptor.get(); }
    // Its DACL (a PACL).
    void* Dacl() const;

private:
    explicit CSecurityDescriptor(const std::string& sddl);

    std::shared_ptr<void> m_descriptor;
};

}  // namespace Platform
}  // namespace Zun
