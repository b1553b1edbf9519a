// quil-product and the object root against another local user who prepared the ground first, as
// an ordinary account can in /tmp or in a root left open.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "channel/CPixlinkChannel.h"
#include "platform/CBroadcastWriter.h"
#include "platform/CNamedMutex.h"
#include "platform/CObjectNamespace.h"
#include "platform/CObjectRoot.h"
#include "platform/CRegistryKey.h"
#include "platform/ProductRegistry.h"
#include "tests/support/CForeignUser.h"
#include "tests/support/CProductProcess.h"
#include "tests/support/CTemporaryObjectRoot.h"

namespace {

using Zun::Testing::CForeignUser;
using Zun::Testing::CProductProcess;
using Zun::Testing::CTemporaryObjectRoot;
namespace Platform = Zun::Platform;

const uid_t kAttacker = CForeignUser::kNobody;
const std::string kAttackerOwns = "owned by uid " + std::to_string(kAttacker);
const std::string kPlanted = "planted";
const std::string kVictimData = "the victim's own data";

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const std::string& path, const std::string& text, mode_t mode) {
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), mode);
}

struct stat Inspect(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info;
}

// Every folder of path below base, made as whoever runs this, open to all.
void MakeFolders(const std::string& base, const std::string& relative) {
    std::string path = base;
    std::istringstream parts(relative);
    for (std::string part; std::getline(parts, part, '/');) {
        path += "/" + part;
        mkdir(path.c_str(), 0777);
        chmod(path.c_str(), 0777);
    }
}

std::string MutexPath() {
    using Zun::Connectors::Common::Pixlink::CPixlinkChannel;
    return Platform::CObjectNamespace::PathOf(
        Platform::CBroadcastWriter::MutexName(CPixlinkChannel::LocalId, CPixlinkChannel::RemoteId));
}

std::string ValueFolder() {
    std::string folder = "registry";
    std::istringstream parts(Platform::kProductRegistryKey);
    for (std::string part; std::getline(parts, part, '\\');) {
        folder += "/" + part;
    }
    return folder;
}

// The control socket is a stream, the ports are packet sockets.
bool CanConnect(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    for (int type : {SOCK_STREAM, SOCK_SEQPACKET}) {
        const int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
        const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        close(fd);
        if (connected) {
            return true;
        }
    }
    return false;
}

// The sockets a serving product has made in the root and its object folder, with their inodes.
std::map<std::string, ino_t> Sockets(const std::string& root) {
    std::map<std::string, ino_t> sockets;
    for (const std::string& folder : {root, Platform::CObjectNamespace::Folder()}) {
        DIR* entries = opendir(folder.c_str());
        for (dirent* entry = entries != nullptr ? readdir(entries) : nullptr; entry != nullptr;
             entry = readdir(entries)) {
            const std::string path = folder + "/" + entry->d_name;
            if (S_ISSOCK(Inspect(path).st_mode)) {
                sockets[path] = Inspect(path).st_ino;
            }
        }
        if (entries != nullptr) {
            closedir(entries);
        }
    }
    return sockets;
}

// A /tmp of its own: root-owned, sticky and writable by all, where the victim's object root is
// to be, so that another user can get there first.
class SharedTmp : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CForeignUser::IsAvailable()) {
            GTEST_SKIP() << "playing another user needs root";
        }
        chmod(m_temp.Path().c_str(), 0755);
        m_shared = m_temp.Path() + "/tmp";
        mkdir(m_shared.c_str(), 0777);
        chmod(m_shared.c_str(), 01777);
        m_root = m_shared + "/quil";
        setenv("QUIL_OBJECT_ROOT", m_root.c_str(), 1);
    }

    CTemporaryObjectRoot m_temp;
    std::string m_shared;
    std::string m_root;
};

struct PlantCase {
    const char* name;
    // The victim's own object root before the attacker comes (0: none yet) and after (0: as it is).
    mode_t rootBefore;
    mode_t rootAfter;
    const char* command;
    // Where the refusal points, relative to the root, and why.
    const char* refusedFolder;
    const char* reason;
};

class PlantedObjectRootTest : public SharedTmp, public ::testing::WithParamInterface<PlantCase> {};

// The attacker plants a 0666 file where the broadcast mutex goes (the product used to truncate it
// and die of SIGBUS when it was truncated again) and a symlink where the product's version value
// goes (install used to write through it into a file of the victim's).
TEST_P(PlantedObjectRootTest, VictimRefusesTheRootAndLeavesThePlantsAlone) {
    const PlantCase& c = GetParam();
    const std::string mutex = MutexPath();
    const std::string value = m_root + "/" + ValueFolder() + "/" + Platform::kProductVersionValue;
    const std::string victimFile = m_temp.Path() + "/victim.txt";
    Write(victimFile, kVictimData, 0600);
    if (c.rootBefore != 0) {
        mkdir(m_root.c_str(), c.rootBefore);
        chmod(m_root.c_str(), c.rootBefore);
    }
    ASSERT_EQ(0, CForeignUser::Run(kAttacker, [&] {
                  MakeFolders(m_shared, "quil");
                  MakeFolders(m_root, "BaseNamedObjects");
                  MakeFolders(m_root, ValueFolder());
                  Write(mutex, kPlanted, 0666);
                  return symlink(victimFile.c_str(), value.c_str());
              }));
    if (c.rootAfter != 0) {
        chmod(m_root.c_str(), c.rootAfter);
    }

    const auto result = CProductProcess::RunForErrors(QUIL_PRODUCT_BINARY, {c.command});
    EXPECT_EQ(1, result.first) << result.second;
    const std::string refused =
        m_root + (*c.refusedFolder != '\0' ? "/" : "") + c.refusedFolder + ": " + c.reason;
    EXPECT_NE(std::string::npos, result.second.find(refused)) << result.second;
    EXPECT_EQ(kPlanted, Contents(mutex));
    EXPECT_EQ(kAttacker, Inspect(mutex).st_uid);
    EXPECT_EQ(kVictimData, Contents(victimFile));
    EXPECT_TRUE(S_ISLNK(Inspect(value).st_mode));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlantedObjectRootTest,
    ::testing::Values(
        PlantCase{"ServeInRootOfAttacker", 0, 0, "serve", "", "owned by uid 65534"},
        PlantCase{"InstallInRootOfAttacker", 0, 0, "install", "", "owned by uid 65534"},
        PlantCase{"ServeInRootLeftOpen", 0777, 0, "serve", "", "writable by group or others"},
        PlantCase{"InstallInRootLeftOpen", 0777, 0, "install", "", "writable by group or others"},
        PlantCase{"ServeWithObjectFolderOfAttacker", 0777, 0700, "serve", "BaseNamedObjects",
                  "owned by uid 65534"},
        PlantCase{"InstallWithRegistryOfAttacker", 0777, 0700, "install", "registry", "owned by uid 65534"}),
    [](const ::testing::TestParamInfo<PlantCase>& info) { return std::string(info.param.name); });

// A second product on a root that one serves used to take over the port names and delete the
// sockets when it ended, so that agents then waited for ever.
TEST(ProductInstanceTest, SecondProductOnOneRootExitsAndChangesNothing) {
    CTemporaryObjectRoot root;
    CProductProcess first(QUIL_PRODUCT_BINARY, {});
    ASSERT_TRUE(first.WaitUntilServing()) << first.Output();
    const std::map<std::string, ino_t> sockets = Sockets(root.Path());
    ASSERT_GE(sockets.size(), 3u) << "control socket and the two ports";

    CProductProcess second(QUIL_PRODUCT_BINARY, {});
    EXPECT_EQ(1, second.WaitForExit()) << second.Output();
    EXPECT_NE(std::string::npos, second.Output().find("already serves the object root " + root.Path()))
        << second.Output();
    EXPECT_NE(std::string::npos, second.Output().find("(pid " + std::to_string(first.Pid()) + ")"))
        << second.Output();

    EXPECT_EQ(sockets, Sockets(root.Path()));
    for (const auto& socket : sockets) {
        EXPECT_TRUE(CanConnect(socket.first)) << socket.first;
    }
    EXPECT_EQ(0, CProductProcess::Run(QUIL_PRODUCT_BINARY, {"ctl", R"({"op":"ping"})"}).first);

    // The lock goes with its holder, however it ends.
    first.Kill();
    CProductProcess third(QUIL_PRODUCT_BINARY, {});
    EXPECT_TRUE(third.WaitUntilServing()) << third.Output();
}

struct CtlCase {
    const char* name;
    // How the request reaches ctl: inline, "-" or "@" (a file made by owner with mode, or a
    // symlink to one when symlinked).
    const char* source;
    uid_t fileOwner;
    mode_t fileMode;
    bool symlinked;
    int status;
    const char* message;  // on standard output when the status is 0, else on standard error
};

class CtlSecretTest : public ::testing::TestWithParam<CtlCase> {
protected:
    void SetUp() override {
        if (GetParam().fileOwner != 0 && !CForeignUser::IsAvailable()) {
            GTEST_SKIP() << "playing another user needs root";
        }
        // The socket must be born owner-only whatever the umask says.
        const mode_t previous = umask(0);
        m_product.reset(new CProductProcess(QUIL_PRODUCT_BINARY, {}));
        umask(previous);
        ASSERT_TRUE(m_product->WaitUntilServing()) << m_product->Output();
    }

    CTemporaryObjectRoot m_root;
    std::unique_ptr<CProductProcess> m_product;
};

// add-recovery carries a recovery secret, which any user reads in ps while ctl runs.
TEST_P(CtlSecretTest, RecoverySecretsComeOnlyFromStandardInputOrATrustedFile) {
    const CtlCase& c = GetParam();
    const std::string uid = std::string("rp-") + c.name;
    const std::string secret = "424242-" + std::string(c.name);
    const std::string request = R"({"op":"add-recovery","passwords":[{"Uid":")" + uid +
                                R"(","DeviceId":"disk-9","Index":"0","Value":")" + secret + R"("}]})";
    const std::string file = m_root.Path() + "/request.json";
    const std::string link = m_root.Path() + "/link.json";
    Write(file, request, c.fileMode);
    chown(file.c_str(), c.fileOwner, c.fileOwner);
    symlink(file.c_str(), link.c_str());

    std::pair<int, std::string> result;
    const std::string source = c.source;
    if (source == "-") {
        result = CProductProcess::Run(QUIL_PRODUCT_BINARY, {"ctl", "-"}, request);
    } else if (source == "@") {
        const std::string argument = "@" + (c.symlinked ? link : file);
        result = c.status == 0 ? CProductProcess::Run(QUIL_PRODUCT_BINARY, {"ctl", argument})
                               : CProductProcess::RunForErrors(QUIL_PRODUCT_BINARY, {"ctl", argument});
    } else {
        result = CProductProcess::RunForErrors(QUIL_PRODUCT_BINARY, {"ctl", request});
    }
    EXPECT_EQ(c.status, result.first) << result.second;
    EXPECT_NE(std::string::npos, result.second.find(c.message)) << result.second;

    const std::string shown = CProductProcess::Run(QUIL_PRODUCT_BINARY, {"ctl", R"({"op":"show"})"}).second;
    EXPECT_EQ(c.status == 0, shown.find(uid) != std::string::npos) << shown;
    EXPECT_EQ(std::string::npos, shown.find(secret));
    EXPECT_EQ(0600u, Inspect(m_root.Path() + "/quil-product.sock").st_mode & 07777);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CtlSecretTest,
    ::testing::Values(
        CtlCase{"CommandLine", "", 0, 0600, false, 64, "every user could read on a command line"},
        CtlCase{"StandardInput", "-", 0, 0600, false, 0, "\"ok\":true"},
        CtlCase{"OwnFile", "@", 0, 0600, false, 0, "\"ok\":true"},
        CtlCase{"FileOfAnother", "@", CForeignUser::kNobody, 0644, false, 1, "owned by uid 65534"},
        CtlCase{"FileWritableByOthers", "@", 0, 0666, false, 1, "writable by group or others"},
        CtlCase{"Symlink", "@", 0, 0600, true, 1, "is a symbolic link"}),
    [](const ::testing::TestParamInfo<CtlCase>& info) { return std::string(info.param.name); });

struct StateCase {
    const char* name;
    std::function<std::string(const std::string& folder)> prepare;  // returns the --state path
    const char* reason;
};

class StateFileTest : public ::testing::TestWithParam<StateCase> {};

// The state carries recovery secrets and decides what the module is told.
TEST_P(StateFileTest, ProductRefusesAStateFileItCannotTrust) {
    if (!CForeignUser::IsAvailable()) {
        GTEST_SKIP() << "playing another user needs root";
    }
    CTemporaryObjectRoot root;
    const std::string state = GetParam().prepare(root.Path());
    const auto result = CProductProcess::RunForErrors(QUIL_PRODUCT_BINARY, {"serve", "--state", state});
    EXPECT_EQ(1, result.first) << result.second;
    EXPECT_NE(std::string::npos, result.second.find("state file " + state + ": " + GetParam().reason))
        << result.second;
    EXPECT_TRUE(Sockets(root.Path()).empty()) << "refused before serving";
}

std::string OwnState(const std::string& folder, mode_t mode) {
    Write(folder + "/state.json", "{}", mode);
    return folder + "/state.json";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StateFileTest,
    ::testing::Values(StateCase{"Folder", [](const std::string& f) { return f; }, "is not a regular file"},
                      StateCase{"WritableByOthers", [](const std::string& f) { return OwnState(f, 0666); },
                                "writable by group or others"},
                      StateCase{"OfAnotherUser",
                                [](const std::string& f) {
                                    const std::string path = OwnState(f, 0644);
                                    chown(path.c_str(), CForeignUser::kNobody, CForeignUser::kNobody);
                                    return path;
                                },
                                "owned by uid 65534"},
                      StateCase{"Symlink",
                                [](const std::string& f) {
                                    symlink(OwnState(f, 0600).c_str(), (f + "/link.json").c_str());
                                    return f + "/link.json";
                                },
                                "is a symbolic link"}),
    [](const ::testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

// Names built aside used to be "<name>.new<pid>" and "<value>.tmp<pid>", opened without O_EXCL:
// whatever sat there was truncated and used, or written through when it was a symlink.
TEST(TemporaryNameTest, FilesPlantedAtTheOldPredictableNamesAreNeverUsed) {
    CTemporaryObjectRoot root;
    const std::string victimFile = root.Path() + "/victim.txt";
    Write(victimFile, kVictimData, 0600);
    Platform::CRegistryKey key(Platform::kProductRegistryKey, false);
    ASSERT_TRUE(key.SetString("Planted", "x")) << key.Error();
    const std::string pid = std::to_string(getpid());
    const std::string value = key.GetPath() + "/" + Platform::kProductVersionValue;
    symlink(victimFile.c_str(), (value + ".tmp" + pid).c_str());
    ASSERT_TRUE(Platform::CObjectNamespace::EnsureFolder());
    const std::string mutexAside = MutexPath() + ".new" + pid;
    Write(mutexAside, kPlanted, 0600);

    EXPECT_TRUE(key.SetString(Platform::kProductVersionValue, "7.4.0")) << key.Error();
    EXPECT_EQ("7.4.0", key.GetString(Platform::kProductVersionValue));
    using Zun::Connectors::Common::Pixlink::CPixlinkChannel;
    EXPECT_NE(nullptr, Platform::CNamedMutex::Create(Platform::CBroadcastWriter::MutexName(
                           CPixlinkChannel::LocalId, CPixlinkChannel::RemoteId)));
    EXPECT_EQ(kVictimData, Contents(victimFile));
    EXPECT_EQ(kPlanted, Contents(mutexAside));

    // A value that is a symlink is neither read nor written through.
    unlink(value.c_str());
    symlink(victimFile.c_str(), value.c_str());
    EXPECT_FALSE(key.HasValue(Platform::kProductVersionValue));
    EXPECT_EQ("", key.GetString(Platform::kProductVersionValue));
    EXPECT_TRUE(key.SetString(Platform::kProductVersionValue, "7.4.1")) << key.Error();
    EXPECT_EQ(kVictimData, Contents(victimFile));
    EXPECT_EQ("7.4.1", key.GetString(Platform::kProductVersionValue));
}

// A script that sets QUIL_OBJECT_ROOT from an unset variable gets the default, and is told so.
TEST(ObjectRootTest, EmptyVariableCountsAsUnsetAndSaysSo) {
    unsetenv("QUIL_OBJECT_ROOT");
    const std::string unset = Platform::CObjectRoot::Path();
    setenv("QUIL_OBJECT_ROOT", "", 1);
    EXPECT_EQ(unset, Platform::CObjectRoot::Path());
    EXPECT_NE(std::string::npos, Platform::CObjectRoot::Origin().find("QUIL_OBJECT_ROOT is empty"));
    unsetenv("QUIL_OBJECT_ROOT");
}

}  // namespace
