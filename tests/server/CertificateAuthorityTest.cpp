#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <Poco/File.h>

#include <fstream>
#include <sstream>

#include "server/admin/CCertificateAuthority.h"
#include "server/api/CPeerCertificate.h"

namespace Zun {
namespace Server {
namespace {

mode_t ModeOf(const std::string& path) {
    struct stat status;
    EXPECT_EQ(0, ::lstat(path.c_str(), &status)) << path;
    return status.st_mode & 07777;
}

std::string Read(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class CertificateAuthorityTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quil-ca-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        m_folder = pattern;
    }
    void TearDown() override { Poco::File(m_folder).remove(true); }

    std::string m_folder;
};

TEST_F(CertificateAuthorityTest, InitKeepsKeysOwnerOnlyAndRefusesASecondCa) {
    CCertificateAuthority authority(m_folder + "/ca");
    authority.Init({"server.example", "10.1.2.3"});
    EXPECT_EQ(0700u, ModeOf(m_folder + "/ca"));
    EXPECT_EQ(0600u, ModeOf(authority.ServerKeyFile()));
    EXPECT_EQ(0600u, ModeOf(m_folder + "/ca/ca.key"));
    EXPECT_NE(std::string::npos, Read(authority.ServerKeyFile()).find("PRIVATE KEY"));
    EXPECT_THROW(authority.Init({}), std::runtime_error);
}

TEST_F(CertificateAuthorityTest, InitRefusesNamesThatCouldAddAnotherEntry) {
    for (const std::string& name : std::vector<std::string>{"a,DNS:evil", "", "a b", "x/y"}) {
        EXPECT_THROW(CCertificateAuthority(m_folder + "/ca-" + std::to_string(name.size())).Init({name}),
                     std::invalid_argument)
            << name;
    }
}

TEST_F(CertificateAuthorityTest, EnrolWritesAnOwnerOnlyBundleAndRecordsTheSerial) {
    CCertificateAuthority authority(m_folder + "/ca");
    authority.Init({});
    const std::string bundle = m_folder + "/pc-1.pem";
    const CCertificateAuthority::Issued issued = authority.Enrol("pc-1", bundle, 30);
    EXPECT_EQ(0600u, ModeOf(bundle));
    const std::string text = Read(bundle);
    EXPECT_NE(std::string::npos, text.find("PRIVATE KEY"));
    // The bundle's first certificate is the computer's: its serial is the one recorded.
    EXPECT_EQ(issued.serial, CPeerCertificate::SerialOf(text.substr(text.find("-----BEGIN CERTIFICATE"))));
    EXPECT_TRUE(authority.IsCurrent(issued.serial));
    ASSERT_EQ(1u, authority.List().size());
    EXPECT_EQ("pc-1", authority.List()[0].computer);
    EXPECT_FALSE(authority.IsCurrent("00"));
    EXPECT_FALSE(authority.IsCurrent("../ca.key"));
}

TEST_F(CertificateAuthorityTest, EnrolNeverWritesThroughWhatIsThere) {
    CCertificateAuthority authority(m_folder + "/ca");
    authority.Init({});
    const std::string target = m_folder + "/target";
    std::ofstream(target) << "keep";
    const std::string link = m_folder + "/link.pem";
    ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));
    EXPECT_THROW(authority.Enrol("pc-1", link, 30), std::runtime_error);
    EXPECT_THROW(authority.Enrol("pc-1", target, 30), std::runtime_error);
    EXPECT_EQ("keep", Read(target));
    EXPECT_TRUE(authority.List().empty());  // a failed bundle leaves no certificate on record
}

TEST_F(CertificateAuthorityTest, RevokeEndsEveryCertificateOfTheComputerOnly) {
    CCertificateAuthority authority(m_folder + "/ca");
    authority.Init({});
    const auto first = authority.Enrol("pc-1", m_folder + "/a.pem", 30);
    const auto second = authority.Enrol("pc-1", m_folder + "/b.pem", 30);
    const auto other = authority.Enrol("pc-2", m_folder + "/c.pem", 30);
    authority.Revoke("pc-1");
    EXPECT_FALSE(authority.IsCurrent(first.serial));
    EXPECT_FALSE(authority.IsCurrent(second.serial));
    EXPECT_TRUE(authority.IsCurrent(other.serial));
    EXPECT_THROW(authority.Revoke("pc-3"), std::runtime_error);
}

TEST_F(CertificateAuthorityTest, RefusesComputerNamesOutsideHostNames) {
    for (const std::string& name :
         std::vector<std::string>{"", "-lead", "a b", "a/b", "a\nb", "é", std::string(65, 'a')}) {
        EXPECT_THROW(CCertificateAuthority::CheckComputerName(name), std::invalid_argument) << name;
    }
    for (const std::string& name : std::vector<std::string>{"pc-1", "PC_2.corp", std::string(64, 'a')}) {
        EXPECT_NO_THROW(CCertificateAuthority::CheckComputerName(name)) << name;
    }
}

TEST_F(CertificateAuthorityTest, RefusesAFolderOthersCanWrite) {
    const std::string folder = m_folder + "/ca";
    CCertificateAuthority authority(folder);
    authority.Init({});
    ASSERT_EQ(0, ::chmod(folder.c_str(), 0777));
    EXPECT_THROW(authority.Enrol("pc-1", m_folder + "/a.pem", 30), std::runtime_error);
}

}  // namespace
}  // namespace Server
}  // namespace Zun
