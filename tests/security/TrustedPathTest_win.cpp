// What Windows' owner-only checks refuse, under Wine as far as its security descriptors go: the
// DACLs the agent gives what it creates, ACEs that let others change a folder or file, another
// owner, and reparse points.
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>
#include <io.h>
#include <sddl.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/CSecurityDescriptor.h"
#include "platform/CTrustedPath.h"
#include "tests/support/CTemporaryObjectRoot.h"

namespace {

using Zun::Platform::CSecurityDescriptor;
using Zun::Platform::CTrustedPath;

const char* const kEveryone = "S-1-1-0";
const char* const kUsers = "S-1-5-32-545";

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string Refusal(const std::function<void()>& call) {
    try {
        call();
        return std::string();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

// The SDDL of a path's DACL ("D:P(A;OICI;FA;;;SY)…").
std::string DaclText(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (::GetNamedSecurityInfoW(Wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "unreadable";
    }
    LPWSTR text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                           DACL_SECURITY_INFORMATION, &text, nullptr);
    const std::wstring wide = text != nullptr ? text : L"";
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return std::string(wide.begin(), wide.end());
}

// Replaces the path's DACL by the given SDDL; false when the system keeps none of it.
bool SetDacl(const std::string& path, const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Wide(sddl).c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        return false;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    std::wstring name = Wide(path);
    const DWORD error = ::SetNamedSecurityInfoW(
        &name[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
        nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
    return error == ERROR_SUCCESS;
}

// The user's own ACEs and then an extra one for someone else.
std::string OwnerOnlyPlus(const std::string& extra) {
    return "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + CSecurityDescriptor::CurrentUserSid() + ")" +
           extra;
}

// Whether the system keeps a DACL as it was given. Wine does not: it derives each DACL from the
// Unix mode (the owner's ACE, SYSTEM's, and Everyone's for the other bits) and drops the rest.
bool KeepsDacls(const std::string& path) {
    return DaclText(path).rfind("D:P", 0) == 0;
}

const char* const kNotKept = "this system keeps no DACL as given (Wine derives it from the Unix mode)";

void Touch(const std::string& path) {
    std::ofstream(path) << "x";
}

TEST(TrustedPathWindowsTest, WhatIsCreatedGetsAProtectedOwnerOnlyDacl) {
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string folder = root.Path() + "\\store\\inner";
    CTrustedPath::EnsureFolder(folder);
    const std::string file = folder + "\\agent.db";
    EXPECT_TRUE(CTrustedPath::EnsurePrivateFile(file));
    std::string temporary;
    ::_close(CTrustedPath::CreateTemporary(folder + "\\key.", temporary));
    const std::string user = CSecurityDescriptor::CurrentUserSid();
    // Under Wine too: no one but the user and SYSTEM gets an ACE, and the checks accept it all.
    for (const std::string& path : {root.Path() + "\\store", folder, file, temporary}) {
        const std::string dacl = DaclText(path);
        EXPECT_EQ(std::string::npos, dacl.find(";;;WD)")) << path << ": " << dacl;
        EXPECT_EQ(std::string::npos, dacl.find(";;;BU)")) << path << ": " << dacl;
        EXPECT_EQ("", Refusal([&] { CTrustedPath::CheckPlacement(path); })) << path;
    }
    EXPECT_EQ("", Refusal([&] { CTrustedPath::CheckFolder(folder); }));
    EXPECT_EQ("", Refusal([&] { ::_close(CTrustedPath::OpenTrustedFile(file)); }));
    if (!KeepsDacls(folder)) {
        GTEST_SKIP() << kNotKept;
    }
    for (const std::string& path : {root.Path() + "\\store", folder, file, temporary}) {
        const std::string dacl = DaclText(path);
        // Protected (P): nothing comes from the folder above; only SYSTEM, Administrators and us.
        EXPECT_EQ(0u, dacl.rfind("D:P", 0)) << path << ": " << dacl;
        EXPECT_NE(std::string::npos, dacl.find(";;;SY)")) << path << ": " << dacl;
        EXPECT_NE(std::string::npos, dacl.find(";;;BA)")) << path << ": " << dacl;
        EXPECT_NE(std::string::npos, dacl.find(";;;" + user + ")")) << path << ": " << dacl;
        EXPECT_EQ(3, std::count(dacl.begin(), dacl.end(), '(')) << path << ": " << dacl;
    }
}

TEST(TrustedPathWindowsTest, AnExistingFileLosesWhatItGaveOthers) {
    Zun::Testing::CTemporaryObjectRoot root;
    CTrustedPath::EnsureFolder(root.Path() + "\\store");
    const std::string file = root.Path() + "\\store\\agent.log";
    Touch(file);
    ASSERT_TRUE(SetDacl(file, OwnerOnlyPlus("(A;;FR;;;BU)")));
    if (!KeepsDacls(file)) {
        GTEST_SKIP() << kNotKept;
    }
    ASSERT_NE(std::string::npos, DaclText(file).find(";;;BU)"));
    EXPECT_FALSE(CTrustedPath::EnsurePrivateFile(file));
    EXPECT_EQ(std::string::npos, DaclText(file).find(";;;BU)")) << DaclText(file);
}

struct AceCase {
    const char* name;
    const char* rights;   // of the ACE "(type;flags;rights;;;account)"
    const char* account;  // its SDDL alias
    const char* refusal;  // the refusal after the path; "" when trusted
};

class TrustedDaclTest : public ::testing::TestWithParam<AceCase> {};

// The same ACE on the folder itself, on a file in it, and on the folder above.
TEST_P(TrustedDaclTest, RefusesWhatOthersMayChange) {
    const AceCase& c = GetParam();
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string parent = root.Path() + "\\parent";
    const std::string folder = parent + "\\folder";
    const std::string file = folder + "\\settings.conf";
    CTrustedPath::EnsureFolder(folder);
    Touch(file);
    const std::string ace = std::string("(") + c.rights + ";;;" + c.account + ")";
    ASSERT_TRUE(SetDacl(folder, OwnerOnlyPlus(ace)));
    ASSERT_TRUE(SetDacl(file, OwnerOnlyPlus(ace)));
    // Wine keeps Everyone's ACE, as the Unix mode's bits for others, and loses the rest.
    if (!KeepsDacls(folder) && std::string(c.account) != "WD") {
        GTEST_SKIP() << kNotKept;
    }
    const std::string onFolder = Refusal([&] { CTrustedPath::CheckFolder(folder); });
    const std::string onFile = Refusal([&] { ::_close(CTrustedPath::OpenTrustedFile(file)); });
    if (*c.refusal == '\0') {
        EXPECT_EQ("", onFolder);
        EXPECT_EQ("", onFile);
    } else {
        EXPECT_EQ(folder + ": " + c.refusal, onFolder);
        EXPECT_EQ(file + ": " + c.refusal, onFile);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Aces, TrustedDaclTest,
    ::testing::Values(AceCase{"ReadingByEveryone", "A;;FR", "WD", ""},
                      AceCase{"ReadingByUsers", "A;;FR", "BU", ""},
                      AceCase{"DeniedToEveryone", "D;;FA", "WD", ""},
                      AceCase{"InheritOnly", "A;OICIIO;FA", "BU", ""},
                      AceCase{"WriteByEveryone", "A;;FW", "WD", "may be changed by S-1-1-0"},
                      AceCase{"AllByEveryone", "A;;FA", "WD", "may be changed by S-1-1-0"},
                      AceCase{"AppendByUsers", "A;;0x4", "BU", "may be changed by S-1-5-32-545"},
                      AceCase{"DeleteByUsers", "A;;SD", "BU", "may be changed by S-1-5-32-545"},
                      AceCase{"DaclByAuthenticatedUsers", "A;;WD", "AU", "may be changed by S-1-5-11"},
                      AceCase{"GenericAllByGuests", "A;;GA", "BG", "may be changed by S-1-5-32-546"}),
    [](const ::testing::TestParamInfo<AceCase>& info) { return std::string(info.param.name); });

// Above the trusted folder, adding entries of one's own is allowed (as ProgramData allows Users),
// but removing or renaming what is there is not.
TEST(TrustedPathWindowsTest, AFolderAboveMayLetOthersCreateButNotReplace) {
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string parent = root.Path() + "\\ProgramData";
    const std::string folder = parent + "\\quil";
    CTrustedPath::EnsureFolder(folder);
    ASSERT_TRUE(SetDacl(parent, OwnerOnlyPlus("(A;CI;0x6;;;S-1-5-32-545)(A;;FR;;;S-1-1-0)")));
    if (!KeepsDacls(parent)) {
        GTEST_SKIP() << kNotKept;
    }
    EXPECT_EQ("", Refusal([&] { CTrustedPath::CheckFolder(folder); }));
    ASSERT_TRUE(SetDacl(parent, OwnerOnlyPlus("(A;;DC;;;S-1-5-32-545)")));
    EXPECT_EQ(parent + ": may be changed by " + kUsers, Refusal([&] { CTrustedPath::CheckFolder(folder); }));
    EXPECT_EQ(parent + ": may be changed by " + kUsers,
              Refusal([&] { CTrustedPath::CheckPlacement(folder + "\\agent.pipe"); }));
}

TEST(TrustedPathWindowsTest, AnotherOwnerIsRefused) {
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string folder = root.Path() + "\\theirs";
    CTrustedPath::EnsureFolder(folder);
    PSID users = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(Wide(kUsers).c_str(), &users));
    std::wstring name = Wide(folder);
    const DWORD error = ::SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, users,
                                                nullptr, nullptr, nullptr);
    ::LocalFree(users);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    ::GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                            nullptr, nullptr, &descriptor);
    const bool given =
        error == ERROR_SUCCESS && owner != nullptr && ::IsWellKnownSid(owner, WinBuiltinUsersSid);
    ::LocalFree(descriptor);
    if (!given) {
        GTEST_SKIP() << "the folder cannot be given to Users here (error " << error
                     << "; Wine's owner is always the Unix file's)";
    }
    EXPECT_EQ(folder + ": owned by " + kUsers + ", not by " + CSecurityDescriptor::CurrentUserSid() +
                  ", SYSTEM or Administrators",
              Refusal([&] { CTrustedPath::CheckFolder(folder); }));
}

TEST(TrustedPathWindowsTest, ReparsePointsAreRefused) {
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string target = root.Path() + "\\target";
    CTrustedPath::EnsureFolder(target);
    Touch(target + "\\file");
    const std::string folderLink = root.Path() + "\\folder-link";
    const std::string fileLink = root.Path() + "\\file-link";
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (!::CreateSymbolicLinkW(Wide(folderLink).c_str(), Wide(target).c_str(),
                               SYMBOLIC_LINK_FLAG_DIRECTORY | unprivileged) ||
        !::CreateSymbolicLinkW(Wide(fileLink).c_str(), Wide(target + "\\file").c_str(), unprivileged)) {
        GTEST_SKIP() << "no symbolic links here (error " << ::GetLastError() << ")";
    }
    // Wine makes a Unix symlink that its own calls follow, so no link shows as a reparse point.
    const DWORD attributes = ::GetFileAttributesW(Wide(fileLink).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "symbolic links do not show as reparse points here";
    }
    const std::string reparse = ": is a reparse point (a symbolic link or junction)";
    EXPECT_EQ(folderLink + reparse, Refusal([&] { CTrustedPath::CheckFolder(folderLink); }));
    EXPECT_EQ(fileLink + reparse, Refusal([&] { ::_close(CTrustedPath::OpenTrustedFile(fileLink)); }));
    EXPECT_EQ(fileLink + reparse, Refusal([&] { CTrustedPath::EnsurePrivateFile(fileLink); }));
}

}  // namespace
