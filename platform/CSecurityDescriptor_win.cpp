#include <Poco/UnicodeConverter.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <stdexcept>
#include <vector>

#include "platform/CSecurityDescriptor.h"

namespace Zun {
namespace Platform {

namespace {

// Full control for SYSTEM and Administrators; OICI hands the ACE down to files and folders inside.
const char* const kAdministratorsInherited = "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// P: protected, so no ACE of the folder above is inherited.
const char* const kProtectedDacl = "D:P";
// Pipes hold no children; GA is full control on any object.
const char* const kAdministratorsOnly = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

std::runtime_error Failure(const std::string& what) {
    return std::runtime_error(what + " (error " + std::to_string(::GetLastError()) + ")");
}

}  // namespace

CSecurityDescriptor::CSecurityDescriptor(const std::string& sddl) {
    std::wstring wide;
    Poco::UnicodeConverter::toUTF16(sddl, wide);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(wide.c_str(), SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        throw Failure("cannot make the security descriptor " + sddl);
    }
    m_descriptor.reset(descriptor, [](void* memory) { ::LocalFree(memory); });
}

CSecurityDescriptor CSecurityDescriptor::OwnerOnly() {
    return CSecurityDescriptor(std::string(kProtectedDacl) + kAdministratorsInherited + "(A;OICI;FA;;;" +
                               CurrentUserSid() + ")");
}

CSecurityDescriptor CSecurityDescriptor::AdministratorsOnly() {
    return CSecurityDescriptor(kAdministratorsOnly);
}

namespace {

// The user a process runs as, in SDDL form; empty when it cannot be told.
std::string TokenUserSid(HANDLE process) {
    HANDLE token = nullptr;
    if (process == nullptr || !::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return std::string();
    }
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    const BOOL read = ::GetTokenInformation(token, TokenUser, user.data(), size, &size);
    ::CloseHandle(token);
    LPWSTR text = nullptr;
    if (!read || !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
        return std::string();
    }
    std::string sid;
    Poco::UnicodeConverter::toUTF8(std::wstring(text), sid);
    ::LocalFree(text);
    return sid;
}

}  // namespace

std::string CSecurityDescriptor::CurrentUserSid() {
    const std::string sid = TokenUserSid(::GetCurrentProcess());
    if (sid.empty()) {
        throw Failure("cannot tell the process's user");
    }
    return sid;
}

std::string CSecurityDescriptor::ProcessUserSid(unsigned long processId) {
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    const std::string sid = TokenUserSid(process);
    if (process != nullptr) {
        ::CloseHandle(process);
    }
    return sid;
}

void* CSecurityDescriptor::Dacl() const {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(Get(), &present, &dacl, &defaulted) || !present) {
        throw Failure("the security descriptor has no DACL");
    }
    return dacl;
}

}  // namespace Platform
}  // namespace Zun
