#include "platform/CTrustedPath.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>

#include "tests/support/CForeignUser.h"
#include "tests/support/CTemporaryObjectRoot.h"

namespace {

using Zun::Platform::CTrustedPath;
using Zun::Testing::CForeignUser;

mode_t ModeOf(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

void Touch(const std::string& path, mode_t mode) {
    std::ofstream(path) << "x";
    chmod(path.c_str(), mode);
}

// The refusal's text, or "" when the call was accepted.
std::string Refusal(const std::function<void()>& call) {
    try {
        call();
        return std::string();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

struct FolderCase {
    const char* name;
    std::function<void(const std::string& folder)> prepare;
    const char* refusal;  // part of the message; "" when the folder is trusted
};

class TrustedFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(TrustedFolderTest, ChecksTheFolderAndWhatIsAboveIt) {
    const FolderCase& c = GetParam();
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string folder = root.Path() + "/parent/folder";
    CTrustedPath::EnsureFolder(folder);
    c.prepare(folder);
    const std::string refusal = Refusal([&] { CTrustedPath::CheckFolder(folder); });
    if (*c.refusal == '\0') {
        EXPECT_EQ("", refusal);
    } else {
        EXPECT_NE(std::string::npos, refusal.find(c.refusal)) << refusal;
    }
}

const std::string kOtherOwner = "owned by uid " + std::to_string(CForeignUser::kNobody);

INSTANTIATE_TEST_SUITE_P(
    Cases, TrustedFolderTest,
    ::testing::Values(
        FolderCase{"Private", [](const std::string&) {}, ""},
        FolderCase{"ReadableByOthers", [](const std::string& f) { chmod(f.c_str(), 0755); }, ""},
        FolderCase{"GroupWritable", [](const std::string& f) { chmod(f.c_str(), 0770); },
                   "writable by group or others"},
        FolderCase{"OthersWritable", [](const std::string& f) { chmod(f.c_str(), 0703); },
                   "writable by group or others"},
        FolderCase{"Symlink",
                   [](const std::string& f) {
                       rename(f.c_str(), (f + ".real").c_str());
                       symlink((f + ".real").c_str(), f.c_str());
                   },
                   "is a symbolic link"},
        FolderCase{"NotAFolder",
                   [](const std::string& f) {
                       rmdir(f.c_str());
                       Touch(f, 0600);
                   },
                   "is not a folder"},
        FolderCase{"ParentWritableByOthers", [](const std::string& f) { chmod((f + "/..").c_str(), 0777); },
                   "writable by group or others"},
        FolderCase{"ParentStickyAndWritable", [](const std::string& f) { chmod((f + "/..").c_str(), 01777); },
                   ""},
        FolderCase{"OwnedByAnother",
                   [](const std::string& f) {
                       if (chown(f.c_str(), CForeignUser::kNobody, CForeignUser::kNobody) != 0) {
                           GTEST_SKIP() << "needs root";
                       }
                   },
                   kOtherOwner.c_str()},
        FolderCase{"ParentOwnedByAnother",
                   [](const std::string& f) {
                       if (chown((f + "/..").c_str(), CForeignUser::kNobody, CForeignUser::kNobody) != 0) {
                           GTEST_SKIP() << "needs root";
                       }
                   },
                   kOtherOwner.c_str()}),
    [](const ::testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

// A path that passes through symbolic links: another user's link could be pointed elsewhere after
// the check (and the log or the database would follow it into her folder); ours or root's cannot.
struct LinkedPathCase {
    const char* name;
    uid_t linkOwner;           // who makes the link in the shared sticky folder
    bool targetParentForeign;  // the link leads into a folder of another user
    const char* refusal;       // "" when trusted
};

class LinkedPathTest : public ::testing::TestWithParam<LinkedPathCase> {};

TEST_P(LinkedPathTest, LinksOnTheWayAndTheRealAncestorsAreChecked) {
    if (!CForeignUser::IsAvailable()) {
        GTEST_SKIP() << "needs root";
    }
    const LinkedPathCase& c = GetParam();
    Zun::Testing::CTemporaryObjectRoot root;
    ASSERT_EQ(0, chmod(root.Path().c_str(), 0711));
    const std::string shared = root.Path() + "/tmp";
    ASSERT_EQ(0, mkdir(shared.c_str(), 01777));
    ASSERT_EQ(0, chmod(shared.c_str(), 01777));
    const std::string parent = root.Path() + (c.targetParentForeign ? "/hers" : "/ours");
    ASSERT_EQ(0, mkdir(parent.c_str(), 0755));
    if (c.targetParentForeign) {
        ASSERT_EQ(0, chown(parent.c_str(), CForeignUser::kNobody, CForeignUser::kNobody));
    }
    const std::string target = parent + "/state";
    ASSERT_EQ(0, mkdir(target.c_str(), 0700));  // ours, wherever it sits
    const std::string link = shared + "/state";
    if (c.linkOwner == geteuid()) {
        ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
    } else {
        ASSERT_EQ(0, CForeignUser::Run(c.linkOwner, [&] { return symlink(target.c_str(), link.c_str()); }));
    }
    const std::string folder = link + "/var";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    const std::string refusal = Refusal([&] { CTrustedPath::CheckFolder(folder); });
    if (*c.refusal == '\0') {
        EXPECT_EQ("", refusal);
    } else {
        EXPECT_NE(std::string::npos, refusal.find(c.refusal)) << refusal;
    }
    EXPECT_EQ(refusal, Refusal([&] { CTrustedPath::CheckPlacement(folder + "/agent.sock"); }))
        << "a socket's placement is judged alike";
}

const std::string kForeignLink = "/tmp/state: is a symbolic link owned by uid 65534";
const std::string kForeignAncestor = "/hers: owned by uid 65534";

INSTANTIATE_TEST_SUITE_P(
    Links, LinkedPathTest,
    ::testing::Values(LinkedPathCase{"OursToOurs", 0, false, ""},
                      LinkedPathCase{"AnotherUsersLink", CForeignUser::kNobody, false, kForeignLink.c_str()},
                      LinkedPathCase{"OursIntoAnotherUsersFolder", 0, true, kForeignAncestor.c_str()}),
    [](const ::testing::TestParamInfo<LinkedPathCase>& info) { return std::string(info.param.name); });

class PrivateFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = m_root.Path() + "/agent";
        CTrustedPath::EnsureFolder(m_folder);
    }

    Zun::Testing::CTemporaryObjectRoot m_root;
    std::string m_folder;
};

TEST_F(PrivateFileTest, IsCreatedOwnerOnlyWhateverTheUmask) {
    const mode_t before = umask(0);
    const bool created = CTrustedPath::EnsurePrivateFile(m_folder + "/agent.db");
    umask(before);
    EXPECT_TRUE(created);
    EXPECT_EQ(0600u, ModeOf(m_folder + "/agent.db"));
    EXPECT_FALSE(CTrustedPath::EnsurePrivateFile(m_folder + "/agent.db"));
}

TEST_F(PrivateFileTest, AnExistingFileLosesWhatItGaveOthers) {
    Touch(m_folder + "/agent.log", 0644);
    EXPECT_FALSE(CTrustedPath::EnsurePrivateFile(m_folder + "/agent.log"));
    EXPECT_EQ(0600u, ModeOf(m_folder + "/agent.log"));
}

TEST_F(PrivateFileTest, RefusesWhatCouldRedirectTheWrites) {
    const std::string victim = m_folder + "/victim";
    Touch(victim, 0600);
    const std::string link = m_folder + "/agent.log";
    ASSERT_EQ(0, symlink(victim.c_str(), link.c_str()));
    EXPECT_NE(std::string::npos,
              Refusal([&] { CTrustedPath::EnsurePrivateFile(link); }).find("symbolic link"));
    const std::string hard = m_folder + "/agent.db";
    ASSERT_EQ(0, ::link(victim.c_str(), hard.c_str()));
    EXPECT_NE(std::string::npos,
              Refusal([&] { CTrustedPath::EnsurePrivateFile(hard); }).find("2 hard links"));
    const std::string writable = m_folder + "/shared";
    Touch(writable, 0666);
    EXPECT_NE(std::string::npos,
              Refusal([&] { CTrustedPath::OpenTrustedFile(writable); }).find("writable by"));
}

TEST_F(PrivateFileTest, RefusesAFileOfAnotherUser) {
    if (!CForeignUser::IsAvailable()) {
        GTEST_SKIP() << "needs root";
    }
    const std::string planted = m_folder + "/agent.db";
    Touch(planted, 0666);
    ASSERT_EQ(0, chown(planted.c_str(), CForeignUser::kNobody, CForeignUser::kNobody));
    EXPECT_NE(std::string::npos,
              Refusal([&] { CTrustedPath::EnsurePrivateFile(planted); }).find(kOtherOwner));
    EXPECT_EQ(0666u, ModeOf(planted));
}

TEST_F(PrivateFileTest, TemporaryNamesAreUnpredictableAndExclusive) {
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string path;
        const int fd = CTrustedPath::CreateTemporary(m_folder + "/state.tmp", path);
        ASSERT_GE(fd, 0);
        close(fd);
        EXPECT_EQ(0600u, ModeOf(path));
        names.insert(path);
    }
    EXPECT_EQ(20u, names.size());
}

}  // namespace
