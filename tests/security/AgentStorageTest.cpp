#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/Session.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/make_shared.hpp>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bus/CQUILProcessRecoveryDataRequest.h"
#include "host/CQUILProcessRecoveryDataResponse.h"
#include "tests/support/CForeignUser.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tools/agent/CAgentCommands.h"
#include "tools/agent/host/CAgentLogger.h"
#include "tools/agent/store/CAgentStore.h"
#include "tools/agent/store/CEscrowRetention.h"
#include "tools/agent/store/CMessageEncoder.h"
#include "tools/agent/store/CPayloadCipher.h"

namespace {

using namespace Zun::Tools::Agent;
using Zun::Testing::CForeignUser;
typedef Zun::Common::Message::Connectors::QUILConnector::CQUILProcessRecoveryDataRequest CRequest;
typedef Zun::Common::Message::Connectors::QUILConnector::CQUILProcessRecoveryDataResponse CResponse;

const std::string kPassword = "314159-265358-979323-846264-338327-950288-419716-939937";
const std::string kBlock = "BLOCK-271828182845904523536";
const size_t kPageSize = 4096;

mode_t ModeOf(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    DIR* dir = opendir(folder.c_str());
    for (dirent* entry; dir != nullptr && (entry = readdir(dir)) != nullptr;) {
        if (entry->d_name[0] != '.') {
            files.push_back(folder + "/" + entry->d_name);
        }
    }
    closedir(dir);
    return files;
}

std::string Refusal(const std::function<void()>& call) {
    try {
        call();
        return std::string();
    } catch (const std::exception& e) {
        return e.what();
    }
}

CAgentStore::Record Escrow(const std::vector<std::string>& passwordIds) {
    CRequest request;
    for (const std::string& id : passwordIds) {
        auto* password = request.MutableFDERecoveryData().add_recovery_passwords();
        password->set_recovery_password(kPassword + id);
        password->set_internalid(id);
    }
    auto* block = request.MutableFDERecoveryData().add_recovery_data_blocks();
    block->set_recovery_data(kBlock);
    block->set_internalid("rd-1");
    request.SetReadOnly();
    return CMessageEncoder::Encode(request, boost::make_shared<Zun::Common::Kernel::CUserContext>("module"));
}

class AgentStorageTest : public ::testing::Test {
protected:
    AgentStorageTest()
        : folder(root.Path() + "/var"), database(folder + "/agent.db"), log(folder + "/agent.log") {
        // Only the agent's own modes may keep other users out, not the test's private root.
        chmod(root.Path().c_str(), 0755);
    }

    Zun::Testing::CTemporaryObjectRoot root;
    std::string folder;
    std::string database;
    std::string log;
};

TEST_F(AgentStorageTest, FilesAreOwnerOnlyWhateverTheUmaskAndHoldNoSecretInPlainText) {
    const mode_t previous = umask(022);
    CAgentStore store(database, CAgentStore::Mode::Create);
    CAgentLogger logger(std::cerr, log);
    logger.Write("started", 2, "test");
    const int64_t sequence = store.Append(Escrow({"pw-1"}));
    umask(previous);

    EXPECT_EQ(0700u, ModeOf(folder));
    const std::vector<std::string> files = FilesIn(folder);
    for (const char* name : {"agent.db", "agent.db-wal", "agent.db-shm", "agent.log", "agent.db.lock"}) {
        EXPECT_NE(files.end(), std::find(files.begin(), files.end(), folder + "/" + name)) << name;
    }
    for (const std::string& file : files) {
        EXPECT_EQ(0600u, ModeOf(file)) << file;
        const std::string bytes = Contents(file);
        EXPECT_EQ(std::string::npos, bytes.find(kPassword)) << file;
        EXPECT_EQ(std::string::npos, bytes.find(kBlock)) << file;
    }
    if (CForeignUser::IsAvailable()) {
        EXPECT_EQ(0, CForeignUser::Run(CForeignUser::kNobody, [&] {
                      int opened = 0;
                      for (const std::string& file : files) {
                          const int fd = open(file.c_str(), O_RDONLY);
                          opened += fd >= 0 ? 1 : 0;
                      }
                      return opened;
                  }));
    }
    CResponse::Data kept;
    ASSERT_TRUE(kept.ParseFromString(store.Payload(sequence))) << "the agent reads back what it sealed";
    EXPECT_EQ(kPassword + "pw-1", kept.recovery_passwords(0).recovery_password());
}

// Another user who asks an agent whose state is owner-only is told why it failed and what to do,
// whether the database or the control socket was refused.
TEST_F(AgentStorageTest, ACommandOfAnotherUserNamesThePermission) {
    if (!CForeignUser::IsAvailable()) {
        GTEST_SKIP() << "needs root";
    }
    CAgentStore(database, CAgentStore::Mode::Create);
    const struct {
        const char* command;
        std::function<int(const CAgentOptions&, std::ostream&, std::ostream&)> run;
    } commands[] = {{"logs", &CAgentCommands::Logs},
                    {"status", &CAgentCommands::Status},
                    {"send", &CAgentCommands::Send}};
    for (const auto& c : commands) {
        CAgentOptions options;
        options.database = database;
        options.control = folder + "/agent.sock";
        options.task = "{\"task\":\"query\",\"kind\":0}";
        EXPECT_EQ(0, CForeignUser::Run(CForeignUser::kNobody,
                                       [&] {
                                           std::ostringstream out, errors;
                                           c.run(options, out, errors);
                                           return errors.str().find(
                                                      "permission denied; run as root or the agent's user") ==
                                                          std::string::npos
                                                      ? 1
                                                      : 0;
                                       }))
            << c.command;
    }
}

TEST_F(AgentStorageTest, ConfirmedSecretsLeaveThePayload) {
    CAgentStore store(database, CAgentStore::Mode::Create);
    const int64_t sequence = store.Append(Escrow({"pw-1", "pw-2"}));
    struct Step {
        std::vector<std::string> passwords, blocks;
        int passwordsLeft;  // -1: the payload is gone
    };
    for (const Step& step : {Step{{"other"}, {}, 2}, Step{{"pw-1"}, {}, 1}, Step{{"pw-2"}, {"rd-1"}, -1}}) {
        CResponse response;
        for (const std::string& id : step.passwords) {
            response.MutableFDERecoveryData().add_recovery_passwords()->set_internalid(id);
        }
        for (const std::string& id : step.blocks) {
            response.MutableFDERecoveryData().add_recovery_data_blocks()->set_internalid(id);
        }
        CEscrowRetention::Release(store, response);
        const std::string payload = store.Payload(sequence);
        CResponse::Data kept;
        ASSERT_TRUE(kept.ParseFromString(payload));
        EXPECT_EQ(step.passwordsLeft, payload.empty() ? -1 : kept.recovery_passwords_size());
    }
    EXPECT_EQ(1u, store.Query(CAgentStore::Filter()).size()) << "the masked record stays";
}

// GCM under one key fails completely when a nonce comes twice: every sealed payload the database
// holds, whether appended or replaced, has a nonce of its own.
TEST_F(AgentStorageTest, NoTwoSealedPayloadsShareANonce) {
    const size_t kMarker = 4;
    const size_t kNonce = 12;
    std::vector<int64_t> sequences;
    {
        CAgentStore store(database, CAgentStore::Mode::Create);
        for (int i = 0; i < 40; ++i) {
            sequences.push_back(store.Append(Escrow({"pw-1", "pw-2"})));  // the same plain text each time
        }
        for (size_t i = 0; i < sequences.size(); i += 4) {
            store.ReplacePayload(sequences[i], store.Payload(sequences[i]));
        }
    }
    Poco::Data::SQLite::Connector::registerConnector();
    Poco::Data::Session raw("SQLite", database);
    std::vector<Poco::Data::BLOB> payloads;
    raw << "SELECT payload FROM messages WHERE payload IS NOT NULL", Poco::Data::Keywords::into(payloads),
        Poco::Data::Keywords::now;
    ASSERT_EQ(sequences.size(), payloads.size());
    std::set<std::string> nonces;
    for (const Poco::Data::BLOB& blob : payloads) {
        const std::string stored(reinterpret_cast<const char*>(blob.rawContent()), blob.size());
        ASSERT_GT(stored.size(), kMarker + kNonce);
        ASSERT_EQ("QSG1", stored.substr(0, kMarker));
        nonces.insert(stored.substr(kMarker, kNonce));
    }
    EXPECT_EQ(payloads.size(), nonces.size()) << "sealed payloads that share a nonce";
}

// A reader takes the payload key only from a file no one else may read: a key that group or others
// could read may have been copied, so the payloads it opens are refused rather than shown.
TEST_F(AgentStorageTest, AReaderRefusesAKeyOthersCouldRead) {
    int64_t sequence = 0;
    {
        CAgentStore store(database, CAgentStore::Mode::Create);
        sequence = store.Append(Escrow({"pw-1"}));
    }
    const std::string key = CPayloadCipher::KeyFileFor(database);
    for (const mode_t mode : {0600, 0640, 0604, 0400}) {
        ASSERT_EQ(0, chmod(key.c_str(), mode));
        CAgentStore reader(database, CAgentStore::Mode::ReadOnly);
        const std::string refusal = Refusal([&] { reader.Payload(sequence); });
        const bool owned = (mode & 077) == 0;
        EXPECT_EQ(owned, refusal.empty()) << std::oct << mode << ": " << refusal;
        if (!owned) {
            EXPECT_NE(std::string::npos, refusal.find(key + ": readable by group or others")) << refusal;
        }
    }
}

struct Placement {
    const char* name;
    std::function<void(const std::string& folder, const std::string& victim)> prepare;
    std::function<void(const std::string& folder)> open;
    const char* refused;  // the path, relative to the temporary root, and the reason
    const char* watched;  // the victim's file, which must stay as it was
};

class UntrustedPlacementTest : public ::testing::TestWithParam<Placement> {};

void Chown(const std::string& path) {
    ASSERT_EQ(0, lchown(path.c_str(), CForeignUser::kNobody, CForeignUser::kNobody)) << path;
}

void OpenStore(const std::string& folder) {
    CAgentStore store(folder + "/agent.db", CAgentStore::Mode::Create);
}

void ReadStore(const std::string& folder) {
    CAgentStore store(folder + "/agent.db", CAgentStore::Mode::ReadOnly);
}

TEST_P(UntrustedPlacementTest, IsRefusedByNameAndTheVictimsFileIsUntouched) {
    if (!CForeignUser::IsAvailable()) {
        GTEST_SKIP() << "needs root";
    }
    const Placement& p = GetParam();
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string folder = root.Path() + "/var";
    const std::string victim = root.Path() + "/victim";
    const std::string watched = root.Path() + p.watched;
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    std::ofstream(victim) << "victim's";
    chmod(victim.c_str(), 0644);
    Chown(victim);
    p.prepare(folder, victim);
    const std::string refusal = Refusal([&] { p.open(folder); });
    EXPECT_NE(std::string::npos, refusal.find(root.Path() + p.refused)) << refusal;
    EXPECT_EQ("victim's", Contents(watched));
    EXPECT_EQ(0644u, ModeOf(watched));
    struct stat info;
    EXPECT_TRUE(lstat((folder + "/agent.db-wal").c_str(), &info) != 0 || info.st_uid == geteuid())
        << "a write-ahead log beside a file of another owner";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UntrustedPlacementTest,
    ::testing::Values(Placement{"SymlinkedLog",
                                [](const std::string& f, const std::string& v) {
                                    symlink(v.c_str(), (f + "/agent.log").c_str());
                                },
                                [](const std::string& f) { CAgentLogger(std::cerr, f + "/agent.log"); },
                                "/var/agent.log: is a symbolic link", "/victim"},
                      Placement{"DatabaseOfAnotherUser",
                                [](const std::string& f, const std::string& v) {
                                    ASSERT_EQ(0, rename(v.c_str(), (f + "/agent.db").c_str()));
                                },
                                &OpenStore, "/var/agent.db: owned by uid 65534", "/var/agent.db"},
                      Placement{"SymlinkedDatabase",
                                [](const std::string& f, const std::string& v) {
                                    symlink(v.c_str(), (f + "/agent.db").c_str());
                                },
                                &OpenStore, "/var/agent.db: is a symbolic link", "/victim"},
                      Placement{"GroupWritableFolder",
                                [](const std::string& f, const std::string&) { chmod(f.c_str(), 0770); },
                                &OpenStore, "/var: writable by group or others", "/victim"},
                      Placement{"FolderOfAnotherUser",
                                [](const std::string& f, const std::string&) { Chown(f); }, &OpenStore,
                                "/var: owned by uid 65534", "/victim"},
                      Placement{"ReadingADatabaseOfAnotherUser",
                                [](const std::string& f, const std::string&) {
                                    OpenStore(f);
                                    Chown(f + "/agent.db");
                                },
                                &ReadStore, "/var/agent.db: owned by uid 65534", "/victim"}),
    [](const ::testing::TestParamInfo<Placement>& info) { return std::string(info.param.name); });

TEST_F(AgentStorageTest, OneAgentPerDatabaseWhileReadersStillRead) {
    std::unique_ptr<CAgentStore> first(new CAgentStore(database, CAgentStore::Mode::Create));
    first->Append(Escrow({"pw-1"}));
    const std::string refusal = Refusal([&] { CAgentStore second(database, CAgentStore::Mode::Create); });
    EXPECT_NE(std::string::npos, refusal.find(database + ": cannot open: in use by another agent (pid " +
                                              std::to_string(getpid()) + ")"))
        << refusal;
    EXPECT_EQ(1u, CAgentStore(database, CAgentStore::Mode::ReadOnly).Query(CAgentStore::Filter()).size());
    first.reset();
    EXPECT_EQ("", Refusal([&] { CAgentStore again(database, CAgentStore::Mode::Create); }));
}

// In a child whose files may not grow past a limit, as on a full disk: each transaction stores one
// row; the child's exit code is how many commits it saw succeed before one was reported as failed.
int CommitsUntilFull(const std::string& database) {
    CAgentStore store(database, CAgentStore::Mode::Create);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{256 * 1024, 256 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    CAgentStore::Record record;
    record.description = "filler";
    record.content = std::string(8 * 1024, 'f');
    for (int committed = 0; committed < 100; ++committed) {
        try {
            store.InTransaction([&] { store.Append(record); });
        } catch (const CAgentStore::CommitFailure&) {
            return committed;
        } catch (const std::exception&) {
            return committed;  // the append itself reported the full disk
        }
    }
    return 255;
}

TEST_F(AgentStorageTest, AFullDiskIsReportedAndOnlyCommittedRowsExist) {
    CAgentStore(database, CAgentStore::Mode::Create);
    const pid_t child = fork();
    if (child == 0) {
        _exit(CommitsUntilFull(database));
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    const int committed = WEXITSTATUS(status);
    ASSERT_LT(committed, 100) << "no failure was reported";
    ASSERT_GT(committed, 0);
    CAgentStore store(database, CAgentStore::Mode::Create);
    EXPECT_TRUE(store.TakeNotices().empty()) << "the database came out damaged";
    EXPECT_EQ(static_cast<size_t>(committed), store.Query(CAgentStore::Filter()).size());
}

struct Damage {
    const char* name;
    std::function<off_t(off_t pages)> page;  // which page, from the page count
};

class DamagedDatabaseTest : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedDatabaseTest, IsMovedAsideWithAMessageAndAFreshOneWorks) {
    Zun::Testing::CTemporaryObjectRoot root;
    const std::string database = root.Path() + "/var/agent.db";
    {
        CAgentStore store(database, CAgentStore::Mode::Create);
        CAgentStore::Record record;
        record.content = std::string(1000, 'c');
        store.InTransaction([&] {
            for (int i = 0; i < 100; ++i) {
                store.Append(record);
            }
        });
    }
    struct stat info;
    ASSERT_EQ(0, stat(database.c_str(), &info));
    const off_t page = GetParam().page(info.st_size / kPageSize);
    {
        std::fstream file(database, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(page * kPageSize);
        file << std::string(kPageSize, 'Z');
    }
    const std::string damaged = Contents(database);

    CAgentStore store(database, CAgentStore::Mode::Create);
    const std::vector<std::string> notices = store.TakeNotices();
    ASSERT_EQ(1u, notices.size());
    EXPECT_NE(std::string::npos, notices[0].find(database + " is damaged")) << notices[0];
    const size_t at = notices[0].find("moved aside to ");
    ASSERT_NE(std::string::npos, at) << notices[0];
    const std::string aside = notices[0].substr(at + 15, notices[0].find(';', at) - at - 15);
    EXPECT_EQ(0u, aside.find(database + ".damaged-")) << aside;
    EXPECT_EQ(damaged, Contents(aside)) << "kept as it was, for whoever investigates";
    EXPECT_EQ(1, store.Append(CAgentStore::Record()));
    EXPECT_EQ(1u, store.Query(CAgentStore::Filter()).size());
}

INSTANTIATE_TEST_SUITE_P(Pages, DamagedDatabaseTest,
                         ::testing::Values(Damage{"Middle", [](off_t pages) { return pages / 2; }},
                                           Damage{"Last", [](off_t pages) { return pages - 1; }}),
                         [](const ::testing::TestParamInfo<Damage>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(AgentStorageTest, ASQLiteDatabaseOfAnotherApplicationIsRefusedUnchanged) {
    mkdir(folder.c_str(), 0700);
    Poco::Data::SQLite::Connector::registerConnector();
    {
        Poco::Data::Session other("SQLite", database);
        other << "CREATE TABLE people (name TEXT)", Poco::Data::Keywords::now;
    }
    const std::string before = Contents(database);
    const std::string refusal = Refusal([&] { CAgentStore store(database, CAgentStore::Mode::Create); });
    EXPECT_NE(std::string::npos,
              refusal.find(database + ": cannot open: holds tables of another application"))
        << refusal;
    EXPECT_EQ(before, Contents(database));
    EXPECT_EQ(2u, FilesIn(folder).size()) << "only the database and the lock";
}

TEST_F(AgentStorageTest, PruningKeepsTheNewestRowsWithinTheLimits) {
    CAgentStore::Record record;
    {
        CAgentStore store(database, CAgentStore::Mode::Create, CAgentStore::Limits{10, 0, false});
        for (int i = 0; i < 25; ++i) {
            store.InTransaction([&] { store.Append(record); });
        }
        const auto rows = store.Query(CAgentStore::Filter());
        ASSERT_EQ(10u, rows.size());
        EXPECT_EQ(16, rows.front().sequence);
        EXPECT_EQ(25, rows.back().sequence);
        Poco::Data::Session raw("SQLite", database);
        raw << "UPDATE messages SET time = '2001-01-01T00:00:00.000Z' WHERE sequence < 20",
            Poco::Data::Keywords::now;
    }
    CAgentStore store(database, CAgentStore::Mode::Create, CAgentStore::Limits{0, 1, false});
    EXPECT_EQ(20, store.Query(CAgentStore::Filter()).front().sequence)
        << "rows older than a day went at start";
}

TEST_F(AgentStorageTest, TheLogRotatesOnceAndReopensOwnerOnly) {
    mkdir(folder.c_str(), 0700);
    const uint64_t limit = 1000;
    std::ostringstream stream;
    CAgentLogger logger(stream, log, limit);
    const std::string line(90, 'x');
    for (int i = 0; i < 50; ++i) {
        logger.Write(line, CAgentLogger::Level::Info, "test");
    }
    EXPECT_LT(Contents(log).size(), limit + 2 * line.size());
    EXPECT_GE(Contents(CAgentLogger::RotatedName(log)).size(), limit);
    EXPECT_EQ(2u, FilesIn(folder).size());

    ASSERT_EQ(0, rename(log.c_str(), (log + ".moved").c_str()));
    const mode_t previous = umask(0);
    logger.Reopen();
    umask(previous);
    logger.Write("after reopening", CAgentLogger::Level::Info, "test");
    EXPECT_NE(std::string::npos, Contents(log).find("after reopening"));
    EXPECT_EQ(0600u, ModeOf(log));
}

// A row's payload as it is stored (sealed); empty when the row has none.
std::string RawPayload(const std::string& database, int64_t sequence) {
    using namespace Poco::Data::Keywords;
    Poco::Data::SQLite::Connector::registerConnector();
    Poco::Data::Session session("SQLite", database);
    std::vector<Poco::Data::BLOB> blobs;
    Poco::Int64 row = sequence;
    session << "SELECT payload FROM messages WHERE sequence = ? AND payload IS NOT NULL", use(row),
        into(blobs), now;
    return blobs.empty() ? std::string()
                         : std::string(reinterpret_cast<const char*>(blobs[0].rawContent()), blobs[0].size());
}

void WriteRawPayload(const std::string& database, int64_t sequence, const std::string& payload) {
    using namespace Poco::Data::Keywords;
    Poco::Data::Session session("SQLite", database);
    Poco::Data::BLOB blob(reinterpret_cast<const unsigned char*>(payload.data()), payload.size());
    Poco::Int64 row = sequence;
    session << "UPDATE messages SET payload = ? WHERE sequence = ?", use(blob), use(row), now;
}

// What can happen to agent.db.key between two runs of the agent.
struct KeyLoss {
    const char* name;
    void (*damage)(const std::string& keyFile);
    const char* said;  // what the refusal says of the key file
};

void RemoveKey(const std::string& keyFile) {
    unlink(keyFile.c_str());
}

void EmptyKey(const std::string& keyFile) {
    EXPECT_EQ(0, truncate(keyFile.c_str(), 0));
}

void ReplaceKey(const std::string& keyFile) {
    std::ofstream(keyFile, std::ios::binary | std::ios::trunc) << std::string(32, 'k');
}

class LostKeyTest : public ::testing::TestWithParam<KeyLoss> {
protected:
    LostKeyTest() : database(root.Path() + "/var/agent.db"), keyFile(database + ".key") {}

    std::string StoredPayload(int64_t sequence) { return RawPayload(database, sequence); }

    Zun::Testing::CTemporaryObjectRoot root;
    std::string database;
    std::string keyFile;
};

TEST_P(LostKeyTest, SealedPayloadsStopTheAgentUntilTheOperatorSetsThemAside) {
    int64_t escrow = 0;
    {
        CAgentStore store(database, CAgentStore::Mode::Create);
        escrow = store.Append(Escrow({"pw-1"}));
        CAgentStore::Record plain;
        plain.description = "no payload";
        store.Append(plain);
    }
    const std::string sealed = StoredPayload(escrow);
    GetParam().damage(keyFile);
    const std::string damagedKey = Contents(keyFile);

    // Refused twice alike: the refusal neither makes a key nor touches the payload.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string refusal = Refusal([&] { CAgentStore store(database, CAgentStore::Mode::Create); });
        EXPECT_NE(std::string::npos, refusal.find("1 of 1 stored payloads")) << refusal;
        EXPECT_NE(std::string::npos, refusal.find(keyFile + GetParam().said)) << refusal;
        EXPECT_NE(std::string::npos, refusal.find("--set-aside-unreadable")) << refusal;
        EXPECT_EQ(damagedKey, Contents(keyFile));
        EXPECT_EQ(sealed, StoredPayload(escrow));
    }

    CAgentStore store(database, CAgentStore::Mode::Create, CAgentStore::Limits{0, 0, false},
                      CAgentStore::Unreadable::SetAside);
    const std::vector<std::string> notices = store.TakeNotices();
    ASSERT_EQ(1u, notices.size());
    EXPECT_NE(std::string::npos, notices[0].find("#" + std::to_string(escrow))) << notices[0];
    EXPECT_EQ(2u, store.Query(CAgentStore::Filter()).size()) << "the messages stay";
    EXPECT_EQ("", StoredPayload(escrow));
    EXPECT_EQ(32u, Contents(keyFile).size());
    EXPECT_NE(damagedKey, Contents(keyFile)) << "a new key";
    const int64_t later = store.Append(Escrow({"pw-2"}));
    CResponse::Data kept;
    ASSERT_TRUE(kept.ParseFromString(store.Payload(later)));
    EXPECT_EQ(1, kept.recovery_passwords_size());
}

TEST_P(LostKeyTest, WithNothingSealedTheAgentStartsAndItsKeyWorks) {
    {
        CAgentStore store(database, CAgentStore::Mode::Create);
        CAgentStore::Record plain;
        plain.description = "no payload";
        store.Append(plain);
    }
    GetParam().damage(keyFile);
    std::unique_ptr<CAgentStore> store;
    ASSERT_EQ("", Refusal([&] { store.reset(new CAgentStore(database, CAgentStore::Mode::Create)); }));
    EXPECT_TRUE(store->TakeNotices().empty());
    EXPECT_EQ(32u, Contents(keyFile).size());
    EXPECT_EQ(0600u, ModeOf(keyFile));
    const int64_t escrow = store->Append(Escrow({"pw-1"}));
    store.reset();
    CAgentStore again(database, CAgentStore::Mode::Create);
    EXPECT_FALSE(again.Payload(escrow).empty()) << "the key made then opens it after a restart";
}

INSTANTIATE_TEST_SUITE_P(Keys, LostKeyTest,
                         ::testing::Values(KeyLoss{"Missing", &RemoveKey, " is missing"},
                                           KeyLoss{"Emptied", &EmptyKey, " is empty"},
                                           KeyLoss{"Replaced", &ReplaceKey, " does not open them"}),
                         [](const ::testing::TestParamInfo<KeyLoss>& info) { return info.param.name; });

// A recovery response that cannot release what it confirms (a request's payload altered behind the
// agent's back) is refused, and not stored as if it had gone through.
TEST_F(AgentStorageTest, ARefusedRecoveryResponseIsNotStored) {
    CAgentStore store(database, CAgentStore::Mode::Create);
    const int64_t escrow = store.Append(Escrow({"pw-1"}));
    std::string altered = RawPayload(database, escrow);
    altered.back() ^= 1;
    WriteRawPayload(database, escrow, altered);
    CResponse response;
    response.MutableFDERecoveryData().add_recovery_passwords()->set_internalid("pw-1");
    const CAgentStore::Record record =
        CMessageEncoder::Encode(response, boost::make_shared<Zun::Common::Kernel::CUserContext>("control"));
    const std::string refusal = Refusal([&] { CEscrowRetention::Store(store, response, record); });
    EXPECT_NE(std::string::npos, refusal.find("sealed under another key")) << refusal;
    CAgentStore::Filter responses;
    responses.types = {record.type};
    EXPECT_TRUE(store.Query(responses).empty());
}

}  // namespace
