#include <Poco/UUIDGenerator.h>
#include <Poco/UnicodeConverter.h>
#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/CSecurityDescriptor.h"
#include "platform/CTrustedPath.h"

// On Windows who may change a file is in its DACL, and a folder's DACL is handed down to what is
// made inside it. ProgramData, for one, lets Users read everything and create files and folders of
// their own, so nothing the agent keeps relies on inheritance: what it creates gets a protected DACL
// of its own (SYSTEM, Administrators and its user), and what it trusts is checked as OpenSSH checks
// on Linux: the owner must be that user, SYSTEM or Administrators (an elevated administrator's files
// belong to Administrators), no ACE may let anyone else write, append or delete, and a reparse point
// (a symbolic link or junction) is refused where Linux refuses a symlink.
namespace Zun {
namespace Platform {

namespace {

// What lets someone replace or change a file or folder's content, or its protection.
const ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                  FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                  GENERIC_ALL;
// On a folder above a trusted one, creating entries of one's own (FILE_ADD_FILE and
// FILE_ADD_SUBDIRECTORY, the same bits as write and append data) is what /tmp's sticky bit allows on
// Linux: ProgramData and the root of C: grant it to Users, who still cannot remove or rename what is
// not theirs.
const ACCESS_MASK kReplaceRights = kChangeRights & ~(FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY);
// NT SERVICE\TrustedInstaller, the owner of the system's own folders.
const wchar_t* const kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::runtime_error Refusal(const std::string& path, const std::string& reason) {
    return std::runtime_error(path + ": " + reason);
}

std::runtime_error SystemFailure(const std::string& path, const std::string& what, DWORD error) {
    return Refusal(path, what + " (error " + std::to_string(error) + ")");
}

std::wstring Wide(const std::string& path) {
    std::wstring wide;
    Poco::UnicodeConverter::toUTF16(path, wide);
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    std::string narrow;
    Poco::UnicodeConverter::toUTF8(wide, narrow);
    return narrow;
}

class CHandle {
public:
    explicit CHandle(HANDLE handle) : m_handle(handle) {}
    ~CHandle() {
        if (IsValid()) {
            ::CloseHandle(m_handle);
        }
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    bool IsValid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE Get() const { return m_handle; }
    HANDLE Release() {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE m_handle;
};

std::string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text)) {
        return "an unreadable SID";
    }
    const std::string narrow = Narrow(text);
    ::LocalFree(text);
    return narrow;
}

// SYSTEM, Administrators, this process's user and (as an owner only) TrustedInstaller.
class CTrustedAccounts {
public:
    CTrustedAccounts() : m_user(CSecurityDescriptor::CurrentUserSid()) {}

    bool MayOwn(PSID sid) const { return MayWrite(sid) || SidText(sid) == Narrow(kTrustedInstaller); }
    bool MayWrite(PSID sid) const {
        // The owner's rights ACE (S-1-3-4) stands for the owner, who is checked on its own.
        return ::IsWellKnownSid(sid, WinLocalSystemSid) ||
               ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
               ::IsWellKnownSid(sid, WinCreatorOwnerRightsSid) || SidText(sid) == m_user;
    }
    const std::string& User() const { return m_user; }

private:
    std::string m_user;
};

// The owner and DACL of an open handle or a named object, freed with it.
struct CSecurity {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    std::shared_ptr<void> descriptor;
};

CSecurity SecurityOf(const std::string& path, HANDLE handle) {
    CSecurity security;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    const DWORD error = handle != nullptr ? ::GetSecurityInfo(handle, SE_FILE_OBJECT, wanted, &security.owner,
                                                              nullptr, &security.dacl, nullptr, &descriptor)
                                          : ::GetNamedSecurityInfoW(Wide(path).c_str(), SE_FILE_OBJECT,
                                                                    wanted, &security.owner, nullptr,
                                                                    &security.dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        throw SystemFailure(path, "cannot read its security descriptor", error);
    }
    security.descriptor.reset(descriptor, [](void* memory) { ::LocalFree(memory); });
    return security;
}

// Refuses an owner other than the trusted accounts, and any allowing ACE that gives someone else
// one of `rights`.
void CheckSecurity(const std::string& path, const CSecurity& security, ACCESS_MASK rights) {
    const CTrustedAccounts trusted;
    if (security.owner == nullptr || !trusted.MayOwn(security.owner)) {
        throw Refusal(path, "owned by " + (security.owner ? SidText(security.owner) : std::string("no one")) +
                                ", not by " + trusted.User() + ", SYSTEM or Administrators");
    }
    if (security.dacl == nullptr) {
        throw Refusal(path, "has no DACL, so anyone may change it");
    }
    for (DWORD index = 0; index < security.dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!::GetAce(security.dacl, index, &entry)) {
            throw SystemFailure(path, "cannot read its DACL", ::GetLastError());
        }
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        // Deny entries only take rights away; an inherit-only entry is for what is made inside.
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (ace->Header.AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        PSID sid = const_cast<DWORD*>(&ace->SidStart);
        if ((ace->Mask & rights) != 0 && !trusted.MayWrite(sid)) {
            throw Refusal(path, "may be changed by " + SidText(sid));
        }
    }
}

DWORD AttributesOf(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw SystemFailure(path, "cannot inspect", ::GetLastError());
    }
    return attributes;
}

std::string FullPath(const std::string& path) {
    const std::wstring wide = Wide(path);
    std::vector<wchar_t> full(::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr) + 1);
    const DWORD length =
        ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        throw SystemFailure(path, "cannot tell its full path", ::GetLastError());
    }
    std::string narrow = Narrow(std::wstring(full.data(), length));
    while (narrow.size() > 3 && (narrow.back() == '\\' || narrow.back() == '/')) {
        narrow.pop_back();
    }
    return narrow;
}

// The folder above a full path; empty above a root (C:\ or \\server\share).
std::string Parent(const std::string& full) {
    const std::size_t separator = full.find_last_of("\\/");
    if (separator == std::string::npos || separator + 1 == full.size()) {
        return std::string();
    }
    const std::string parent = full.substr(0, separator);
    if (parent.size() == 2 && parent[1] == ':') {
        return parent + "\\";
    }
    // \\server\share has no folder above it that the check could read.
    return parent.rfind("\\\\", 0) == 0 && parent.find('\\', 2) == std::string::npos ? std::string() : parent;
}

// Each folder above a full path: a trusted owner, and no one else may remove or rename what is in
// it. A junction on the way must be a trusted account's, as OpenSSH takes a symlink of root's.
void CheckAncestors(const std::string& full) {
    for (std::string folder = Parent(full); !folder.empty(); folder = Parent(folder)) {
        CheckSecurity(folder, SecurityOf(folder, nullptr), kReplaceRights);
    }
}

void CheckOwnFolder(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw Refusal(path, "is a reparse point (a symbolic link or junction)");
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        throw Refusal(path, "is not a folder");
    }
    CheckSecurity(path, SecurityOf(path, nullptr), kChangeRights);
}

// An open file: a regular file with one name, whose owner and DACL are checked on the handle, so
// nothing can be swapped in between.
void CheckOwnFile(const std::string& path, HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(file, &information)) {
        throw SystemFailure(path, "cannot inspect", ::GetLastError());
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw Refusal(path, "is a reparse point (a symbolic link or junction)");
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw Refusal(path, "is not a regular file");
    }
    // A second name may sit in a folder someone else controls.
    if (information.nNumberOfLinks != 1) {
        throw Refusal(path, "has " + std::to_string(information.nNumberOfLinks) + " hard links");
    }
    CheckSecurity(path, SecurityOf(path, file), kChangeRights);
}

// Opens without following a reparse point, so that the handle is the link itself and is refused.
HANDLE OpenNoFollow(const std::string& path, DWORD access, DWORD disposition,
                    SECURITY_ATTRIBUTES* attributes) {
    return ::CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         attributes, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
}

// Creates the file exclusively with the owner-only DACL; invalid when it exists or cannot be made.
HANDLE CreatePrivate(const std::string& path) {
    const CSecurityDescriptor descriptor = CSecurityDescriptor::OwnerOnly();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
    return OpenNoFollow(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, &attributes);
}

int Descriptor(const std::string& path, CHandle& file, int flags) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), flags | _O_BINARY);
    if (fd < 0) {
        throw Refusal(path, "cannot open");
    }
    file.Release();
    return fd;
}

}  // namespace

void CTrustedPath::CheckFolder(const std::string& path) {
    const std::string full = FullPath(path);
    CheckOwnFolder(full);
    CheckAncestors(full);
}

// SYSTEM and Administrators are trusted everywhere on Windows, as root is on Linux.
void CTrustedPath::CheckSharedFolder(const std::string& path) {
    CheckFolder(path);
}

void CTrustedPath::CheckPlacement(const std::string& path) {
    CheckAncestors(FullPath(path));
}

void CTrustedPath::EnsureFolder(const std::string& path) {
    const std::string full = FullPath(path);
    std::vector<std::string> missing;
    for (std::string folder = full;
         !folder.empty() && ::GetFileAttributesW(Wide(folder).c_str()) == INVALID_FILE_ATTRIBUTES;
         folder = Parent(folder)) {
        missing.push_back(folder);
    }
    const CSecurityDescriptor descriptor = CSecurityDescriptor::OwnerOnly();
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        if (!::CreateDirectoryW(Wide(*folder).c_str(), &attributes) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            throw SystemFailure(*folder, "cannot create", ::GetLastError());
        }
    }
    CheckFolder(path);
}

bool CTrustedPath::EnsurePrivateFile(const std::string& path) {
    CHandle created(CreatePrivate(path));
    if (created.IsValid()) {
        return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) {
        throw SystemFailure(path, "cannot create", ::GetLastError());
    }
    CHandle existing(
        OpenNoFollow(path, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES, OPEN_EXISTING, nullptr));
    if (!existing.IsValid()) {
        throw SystemFailure(path, "cannot open", ::GetLastError());
    }
    CheckOwnFile(path, existing.Get());
    // Whatever else it allowed (reading by Users, say) goes: the file is owner-only from here on.
    const CSecurityDescriptor descriptor = CSecurityDescriptor::OwnerOnly();
    const DWORD error = ::SetSecurityInfo(existing.Get(), SE_FILE_OBJECT,
                                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                          nullptr, nullptr, static_cast<PACL>(descriptor.Dacl()), nullptr);
    if (error != ERROR_SUCCESS) {
        throw SystemFailure(path, "cannot make it owner-only", error);
    }
    return false;
}

int CTrustedPath::OpenTrustedFile(const std::string& path) {
    CHandle file(OpenNoFollow(path, GENERIC_READ, OPEN_EXISTING, nullptr));
    if (!file.IsValid()) {
        throw SystemFailure(path, "cannot open", ::GetLastError());
    }
    CheckOwnFile(path, file.Get());
    return Descriptor(path, file, _O_RDONLY);
}

std::string CTrustedPath::ReadTrustedFile(const std::string& path, std::size_t maxBytes) {
    const int fd = OpenTrustedFile(path);
    std::string content;
    char chunk[4096];
    int got;
    while ((got = ::_read(fd, chunk, sizeof chunk)) > 0) {
        content.append(chunk, static_cast<std::size_t>(got));
        if (content.size() > maxBytes) {
            ::_close(fd);
            throw Refusal(path, "holds more than " + std::to_string(maxBytes) + " bytes");
        }
    }
    ::_close(fd);
    if (got < 0) {
        throw Refusal(path, "cannot read");
    }
    return content;
}

int CTrustedPath::CreateTemporary(const std::string& prefix, std::string& path) {
    path = prefix + Poco::UUIDGenerator::defaultGenerator().createRandom().toString().substr(0, 8);
    CHandle file(CreatePrivate(path));
    if (!file.IsValid()) {
        throw SystemFailure(path, "cannot create", ::GetLastError());
    }
    return Descriptor(path, file, _O_RDWR);
}

}  // namespace Platform
}  // namespace Zun
