#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "server/service/CItemSealer.h"

namespace Zun {
namespace Server {
namespace {

const std::string kSecret = "123456-654321-111111-222222-333333-444444-555555-666666";

class ItemSealerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quil-sealer-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + m_folder + "'").c_str()); }

    std::string m_folder;
    CItemSealer m_sealer{std::string(CItemSealer::kKeySize, '\x5a')};
};

TEST_F(ItemSealerTest, SealsWithAFreshNonceAndOpensOnlyForTheSameItem) {
    const std::string data = CItemSealer::AssociatedData("pc-1", "password", "pw-1");
    std::set<std::string> nonces;
    for (int i = 0; i < 200; ++i) {
        const std::string sealed = m_sealer.Seal(kSecret, data);
        EXPECT_EQ(sealed.find(kSecret.substr(0, 8)), std::string::npos);
        nonces.insert(sealed.substr(0, CItemSealer::kNonceSize));
        EXPECT_EQ(m_sealer.Open(sealed, data), kSecret);
    }
    EXPECT_EQ(nonces.size(), 200u);
}

TEST_F(ItemSealerTest, RefusesAnotherComputerItemOrAlteredBytes) {
    const std::string sealed =
        m_sealer.Seal(kSecret, CItemSealer::AssociatedData("pc-1", "password", "pw-1"));
    EXPECT_ANY_THROW(m_sealer.Open(sealed, CItemSealer::AssociatedData("pc-2", "password", "pw-1")));
    EXPECT_ANY_THROW(m_sealer.Open(sealed, CItemSealer::AssociatedData("pc-1", "data", "pw-1")));
    EXPECT_ANY_THROW(m_sealer.Open(sealed, CItemSealer::AssociatedData("pc-1", "password", "pw-2")));
    // Fields cannot borrow from each other.
    EXPECT_ANY_THROW(m_sealer.Open(sealed, CItemSealer::AssociatedData("pc-1p", "assword", "pw-1")));
    std::string altered = sealed;
    altered[CItemSealer::kNonceSize] ^= 1;
    EXPECT_ANY_THROW(m_sealer.Open(altered, CItemSealer::AssociatedData("pc-1", "password", "pw-1")));
    EXPECT_ANY_THROW(
        m_sealer.Open(sealed.substr(0, 10), CItemSealer::AssociatedData("pc-1", "password", "pw-1")));
}

TEST_F(ItemSealerTest, KeyFileIsMadeOwnerOnlyOnceAndRefusedWhenOthersMayRead) {
    const std::string path = m_folder + "/server.key";
    const std::string key = CItemSealer::LoadOrCreateKey(path);
    EXPECT_EQ(key.size(), CItemSealer::kKeySize);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(CItemSealer::LoadOrCreateKey(path), key);

    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    EXPECT_ANY_THROW(CItemSealer::LoadOrCreateKey(path));
    std::ofstream(m_folder + "/short.key") << "short";
    chmod((m_folder + "/short.key").c_str(), 0600);
    EXPECT_ANY_THROW(CItemSealer::LoadOrCreateKey(m_folder + "/short.key"));
    EXPECT_THROW(CItemSealer("short"), std::invalid_argument);
}

}  // namespace
}  // namespace Server
}  // namespace Zun
