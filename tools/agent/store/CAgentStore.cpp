#include "tools/agent/store/CAgentStore.h"

#include <Poco/Base64Decoder.h>
#include <Poco/Base64Encoder.h>
#include <Poco/Data/LOB.h>
#include <Poco/Data/SQLite/Connector.h>
#include <Poco/Data/SQLite/SQLiteException.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Path.h>
#include <Poco/Timespan.h>
#include <Poco/Timestamp.h>

#include <algorithm>
#include <boost/algorithm/string/predicate.hpp>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "platform/CInstanceLock.h"
#include "platform/CTrustedPath.h"
#include "tools/agent/store/CPayloadCipher.h"
#include "tools/agent/store/CSecretWiper.h"
#include "tools/agent/store/CStoreWrites.h"
#include "tools/agent/store/CTrustedFile.h"
#include "tools/common/PermissionHint.h"

namespace Zun {
namespace Tools {
namespace Agent {

using namespace Poco::Data::Keywords;
using Platform::CTrustedPath;

namespace {

// Long enough for `quil-agent logs` to read while the agent writes.
const std::size_t kBusySeconds = 5;
// "QUIL" in the database header: tells the agent's database from any other SQLite file, even when
// pages past the first are damaged.
const int kApplicationId = 0x5155494C;
const std::string kSQLiteHeader("SQLite format 3\0", 16);
// The write-ahead log shrinks back to this after a checkpoint instead of keeping its largest size.
const int kWalSizeLimit = 4 * 1024 * 1024;
// Pruning by age scans the table, so it runs at most this often.
const int64_t kAgePruneSeconds = 60;
const int64_t kSecondsPerDay = 24 * 60 * 60;
// The database, its write-ahead log and shared-memory index, and the tasks' hand-over marks.
const char* const kCompanions[] = {"", "-wal", "-shm", "-handed"};
const char* const kMarksSuffix = "-handed";
// Beside the database: held by the agent that writes it.
const char* const kLockSuffix = ".lock";
// The symbols of a task result event that carry the task's identifiers.
const int kFirstTaskId = 2842;
const int kSecondTaskId = 2844;
const int kThirdTaskId = 2846;
// Rows read per statement by Query: memory stays bounded whatever the database holds.
const size_t kScanPage = 1000;
// What the server acknowledged last, among the agent's settings.
const char* const kAcknowledgedSetting = "server_committed_through";
// Before a task line sealed at rest.
const char* const kSealedLinePrefix = "sealed:";

void RegisterConnector() {
    static std::once_flag once;
    std::call_once(once, [] { Poco::Data::SQLite::Connector::registerConnector(); });
}

std::string Message(const std::exception& e) {
    if (const Poco::Exception* poco = dynamic_cast<const Poco::Exception*>(&e)) {
        return poco->displayText();
    }
    return e.what();
}

// An empty file, or one that starts as SQLite's do: cut short within the header, it is still one.
bool HasSQLiteHeader(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string header(kSQLiteHeader.size(), '\0');
    file.read(&header[0], static_cast<std::streamsize>(header.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    return header.compare(0, got, kSQLiteHeader, 0, got) == 0;
}

Poco::Data::BLOB BlobOf(const std::string& bytes) {
    return Poco::Data::BLOB(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// Text that LIKE matches literally: its wildcards and the escape character escaped.
std::string LikeLiteral(const std::string& text) {
    std::string literal;
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') {
            literal += '\\';
        }
        literal += c;
    }
    return literal;
}

int64_t EpochSeconds() {
    return Poco::Timestamp().epochTime();
}

}  // namespace

CAgentStore::CAgentStore(const std::string& path, Mode mode, const Limits& limits, Unreadable unreadable)
    : m_path(path), m_limits(limits) {
    RegisterConnector();
    try {
        mode == Mode::Create ? OpenForWriting(unreadable) : OpenForReading();
    } catch (const std::exception& e) {
        m_writes.reset();
        m_session.reset();
        throw Failure("cannot open", e);
    }
}

CAgentStore::~CAgentStore() = default;

std::runtime_error CAgentStore::Failure(const std::string& what, const std::exception& e) const {
    return std::runtime_error("Agent database " + m_path + ": " + what + ": " + Message(e));
}

// The lock comes first: nothing is written, moved or created in the database's name before it.
void CAgentStore::OpenForWriting(Unreadable unreadable) {
    CTrustedPath::EnsureFolder(FolderOf(m_path));
    try {
        m_lock.reset(new Platform::CInstanceLock(m_path + kLockSuffix));
    } catch (const Platform::CInstanceLock::CHeld& held) {
        throw std::runtime_error("in use by another agent" + held.Holder());
    }
    std::vector<std::string> created;
    for (const char* companion : kCompanions) {
        if (CTrustedPath::EnsurePrivateFile(m_path + companion)) {
            created.push_back(m_path + companion);
        }
    }
    try {
        CheckOwnership();
    } catch (const std::exception&) {
        // A file that is not ours to use keeps no empty companions of ours beside it.
        m_session.reset();
        for (const std::string& companion : created) {
            if (companion != m_path) {
                Poco::File(companion).remove();
            }
        }
        throw;
    }
    m_cipher.reset(new CPayloadCipher(CPayloadCipher::KeyFileFor(m_path), true));
    // A write-ahead log lets "logs" read while the agent writes, and with synchronous=NORMAL a
    // message costs no disk flush of its own: a crash of the machine may lose the last messages
    // written, never the database.
    *m_session << "PRAGMA journal_mode=WAL", now;
    *m_session << "PRAGMA journal_size_limit=" + std::to_string(kWalSizeLimit), now;
    CreateSchema();
    CheckPayloadKey(unreadable);
    SealPlainPayloads();
    *m_session << "SELECT coalesce(min(sequence), 1) - 1, coalesce(max(sequence), 0) FROM messages",
        into(m_prunedThrough), into(m_lastSequence), now;
    m_committedThrough = m_lastSequence;
    m_acknowledged = std::stoll(SettingLocked(kAcknowledgedSetting, "0"));
    PruneLocked();
    m_writes.reset(new CStoreWrites(*m_session));
    m_marks.reset(new CHandOverMarks(m_path + kMarksSuffix));
    FoldLeftMarks();
}

// What an earlier run marked goes into the tasks' rows before anyone asks which tasks it left.
void CAgentStore::FoldLeftMarks() {
    if (m_marks->Left().empty()) {
        return;
    }
    m_session->begin();
    PutMarksInRows(m_marks->Left());
    m_session->commit();
    m_marks->Clear();
}

void CAgentStore::PutMarksInRows(const std::vector<int64_t>& sequences) {
    for (int64_t sequence : sequences) {
        Writes().RaiseTaskState(sequence, static_cast<int>(TaskState::Handed));
    }
}

// Connects, refusing anything but an empty or an agent database, and moves a damaged one aside.
void CAgentStore::CheckOwnership() {
    if (!HasSQLiteHeader(m_path)) {
        throw std::runtime_error("not a database: no SQLite header; move it away or choose another --db");
    }
    // A file SQLite cannot even read (cut short, its write-ahead log lost or cut) is as damaged as
    // one whose pages fail the check: it is kept aside for whoever investigates, never deleted.
    Content content = Content::Empty;
    std::string damage;
    try {
        Connect();
        content = Classify();
        damage = content == Content::Agent ? DamageOf() : std::string();
    } catch (const std::exception& e) {
        damage = Message(e);
    }
    if (content == Content::Other) {
        throw std::runtime_error("holds tables of another application, not an agent database");
    }
    if (!damage.empty()) {
        MoveAside(damage);
    }
}

void CAgentStore::OpenForReading() {
    // A folder we may not read hides whether the file exists at all. (Not canExecute: on Windows
    // Poco answers that from the name's extension, which a folder has none of.)
    const Poco::File folder(FolderOf(m_path));
    if (folder.exists() && !folder.canRead()) {
        throw std::runtime_error(kPermissionHint);
    }
    if (!Poco::File(m_path).exists()) {
        throw std::runtime_error("no such file");
    }
    if (!Poco::File(m_path).canRead()) {
        throw std::runtime_error(kPermissionHint);
    }
    CTrustedPath::CheckFolder(FolderOf(m_path));
    for (const char* companion : kCompanions) {
        if (Poco::File(m_path + companion).exists()) {
            CTrustedFile::Check(m_path + companion);
        }
    }
    m_cipher.reset(new CPayloadCipher(CPayloadCipher::KeyFileFor(m_path), false));
    Connect();
    CheckSchema();
}

void CAgentStore::Connect() {
    m_session.reset(new Poco::Data::Session("SQLite", m_path, kBusySeconds));
    m_session->setConnectionTimeout(kBusySeconds);
    *m_session << "PRAGMA synchronous=NORMAL", now;
    // Deleted rows and replaced payloads are overwritten, not left in free pages.
    *m_session << "PRAGMA secure_delete=ON", now;
}

// A legacy agent database has no application id yet, but has the agent's tables.
CAgentStore::Content CAgentStore::Classify() {
    int application = 0;
    *m_session << "PRAGMA application_id", into(application), now;
    if (application == kApplicationId) {
        return Content::Agent;
    }
    int ours = 0, all = 0;
    *m_session << "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('messages', 'agent')",
        into(ours), now;
    *m_session << "SELECT count(*) FROM sqlite_master", into(all), now;
    return ours == 2 ? Content::Agent : all == 0 ? Content::Empty : Content::Other;
}

std::string CAgentStore::DamageOf() {
    try {
        std::vector<std::string> problems;
        *m_session << "PRAGMA quick_check", into(problems), now;
        if (problems.size() == 1 && problems[0] == "ok") {
            return std::string();
        }
        return problems.empty() ? std::string("quick_check found problems") : problems[0];
    } catch (const Poco::Data::SQLite::CorruptImageException& e) {
        return Message(e);
    }
}

void CAgentStore::MoveAside(const std::string& reason) {
    if (m_session) {
        m_session->close();
        m_session.reset();
    }
    const std::string aside =
        DamagedName(m_path, Poco::DateTimeFormatter::format(Poco::Timestamp(), "%Y%m%dT%H%M%SZ"));
    for (const char* companion : kCompanions) {
        Poco::File file(m_path + companion);
        if (file.exists()) {
            file.renameTo(aside + companion);
        }
        CTrustedPath::EnsurePrivateFile(m_path + companion);
    }
    m_notices.push_back("Agent database " + m_path + " is damaged (" + reason + "); moved aside to " + aside +
                        "; starting a fresh one");
    Connect();
}

std::string CAgentStore::DamagedName(const std::string& path, const std::string& utcTime) {
    const std::string base = path + ".damaged-" + utcTime;
    std::string name = base;
    for (int n = 2; Poco::File(name).exists(); ++n) {
        name = base + "-" + std::to_string(n);
    }
    return name;
}

std::vector<std::string> CAgentStore::TakeNotices() {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    std::vector<std::string> notices;
    notices.swap(m_notices);
    return notices;
}

void CAgentStore::CreateSchema() {
    *m_session << "CREATE TABLE IF NOT EXISTS messages ("
                  "sequence INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, type INTEGER NOT NULL, "
                  "class TEXT NOT NULL, description TEXT NOT NULL, user_context TEXT NOT NULL, "
                  "content TEXT NOT NULL, payload BLOB)",
        now;
    *m_session << "CREATE INDEX IF NOT EXISTS messages_by_type ON messages (type, sequence)", now;
    // `logs --since/--until` find where their range starts and ends through it.
    *m_session << "CREATE INDEX IF NOT EXISTS messages_by_time ON messages (time)", now;
    *m_session << "CREATE TABLE IF NOT EXISTS agent (name TEXT PRIMARY KEY, value TEXT NOT NULL)", now;
    *m_session << "CREATE TABLE IF NOT EXISTS tasks (sequence INTEGER PRIMARY KEY, line TEXT NOT NULL, "
                  "state INTEGER NOT NULL)",
        now;
    *m_session << "PRAGMA application_id=" + std::to_string(kApplicationId), now;
}

void CAgentStore::CheckSchema() {
    if (Classify() != Content::Agent) {
        throw std::runtime_error("not an agent database");
    }
}

// The sealed payloads that the key cannot open: all of them when there is no key.
std::vector<int64_t> CAgentStore::UnreadablePayloads(size_t& sealed) {
    std::vector<Poco::Int64> sequences;
    // Payloads are blobs, which never equal a text: the marker's first bytes ("QS") as a blob.
    *m_session << "SELECT sequence FROM messages WHERE payload IS NOT NULL "
                  "AND CAST(substr(payload, 1, 2) AS BLOB) = x'5153' ORDER BY sequence",
        into(sequences), now;
    std::vector<int64_t> unreadable;
    sealed = 0;
    for (Poco::Int64 sequence : sequences) {
        std::vector<Poco::Data::BLOB> blobs;
        *m_session << "SELECT payload FROM messages WHERE sequence = ?", use(sequence), into(blobs), now;
        const std::string stored(reinterpret_cast<const char*>(blobs.at(0).rawContent()), blobs.at(0).size());
        if (!CPayloadCipher::IsSealed(stored)) {
            continue;
        }
        ++sealed;
        if (m_cipher->KeyState() != CPayloadCipher::Key::Present) {
            unreadable.push_back(sequence);
            continue;
        }
        try {
            std::string plain = m_cipher->Open(stored);
            CSecretWiper::Wipe(plain);
        } catch (const std::exception&) {
            unreadable.push_back(sequence);
        }
    }
    return unreadable;
}

// A new key is made only when nothing sealed needs the old one: a lost key file must not turn every
// stored payload into noise without a word, nor the refusals of later recovery responses.
void CAgentStore::CheckPayloadKey(Unreadable unreadable) {
    size_t sealed = 0;
    const std::vector<int64_t> lost = UnreadablePayloads(sealed);
    const CPayloadCipher::Key key = m_cipher->KeyState();
    const std::string keyName = "the " + m_cipher->KeyName();
    if (lost.empty() && key != CPayloadCipher::Key::Malformed) {
        if (key != CPayloadCipher::Key::Present) {
            m_cipher->NewKey();
        }
        return;
    }
    const std::string state = key == CPayloadCipher::Key::Missing ? keyName + " is missing"
                              : key == CPayloadCipher::Key::Empty ? keyName + " is empty"
                              : key == CPayloadCipher::Key::Malformed
                                  ? keyName + " holds no payload key"
                                  : keyName + " does not open them (sealed under another key, or altered)";
    if (unreadable == Unreadable::Refuse) {
        if (lost.empty()) {
            throw std::runtime_error(state +
                                     "; put the right key back, or start once with "
                                     "--set-aside-unreadable to replace it with a new one");
        }
        throw std::runtime_error(
            std::to_string(lost.size()) + " of " + std::to_string(sealed) +
            " stored payloads (recovery data, licence files) cannot be opened: " + state +
            ". Put back the key file that sealed them, or start once with --set-aside-unreadable to drop "
            "those payloads (their messages stay) and go on with " +
            (lost.size() == sealed ? "a new key" : "the key in place"));
    }
    std::string notice;
    if (!lost.empty()) {
        m_session->begin();
        for (int64_t sequence : lost) {
            Poco::Int64 row = sequence;
            *m_session << "UPDATE messages SET payload = NULL WHERE sequence = ?", use(row), now;
        }
        m_session->commit();
        notice =
            "Set aside the payloads of " + std::to_string(lost.size()) + " stored messages (" + state + ")";
        for (size_t i = 0; i < lost.size() && i < 10; ++i) {
            notice += (i == 0 ? ": #" : ", #") + std::to_string(lost[i]);
        }
        notice += lost.size() > 10 ? ", ...; " : "; ";
        notice += "the messages stay without them";
    } else {
        notice = "Nothing stored was sealed under what " + keyName + " held";
    }
    if (lost.size() == sealed) {
        m_cipher->NewKey();
        notice += "; a new key was made";
    }
    m_notices.push_back(notice);
}

// Databases written before payloads were sealed get theirs sealed on the agent's first start.
void CAgentStore::SealPlainPayloads() {
    std::vector<Poco::Int64> sequences;
    *m_session << "SELECT sequence FROM messages WHERE payload IS NOT NULL AND substr(payload, 1, 2) != 'QS'",
        into(sequences), now;
    for (Poco::Int64 sequence : sequences) {
        std::vector<Poco::Data::BLOB> blobs;
        *m_session << "SELECT payload FROM messages WHERE sequence = ?", use(sequence), into(blobs), now;
        std::string plain(reinterpret_cast<const char*>(blobs.at(0).rawContent()), blobs.at(0).size());
        if (!CPayloadCipher::IsSealed(plain)) {
            Poco::Data::BLOB sealed = BlobOf(Seal(plain));
            *m_session << "UPDATE messages SET payload = ? WHERE sequence = ?", use(sealed), use(sequence),
                now;
        }
        CSecretWiper::Wipe(plain);
    }
}

CStoreWrites& CAgentStore::Writes() {
    if (!m_writes) {
        throw std::runtime_error("opened for reading only");
    }
    return *m_writes;
}

std::string CAgentStore::Seal(const std::string& payload) {
    return payload.empty() ? std::string() : m_cipher->Seal(payload);
}

int64_t CAgentStore::Append(const Record& record) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        CStoreWrites::Message row;
        row.time = Now();
        row.type = record.type;
        row.className = &record.className;
        row.description = &record.description;
        row.userContext = &record.userContext;
        row.content = &record.content;
        // A row without a serialized form keeps NULL, so that readers can tell "none" from "empty".
        const std::string sealed = Seal(record.payload);
        row.payload = record.payload.empty() ? nullptr : &sealed;
        const int64_t sequence = Writes().InsertMessage(row);
        m_lastSequence = sequence;
        if (!m_inTransaction) {
            m_committedThrough = sequence;
        }
        return sequence;
    } catch (const std::exception& e) {
        throw Failure("cannot store " + record.description, e);
    }
}

void CAgentStore::InTransaction(const std::function<void()>& work) {
    CHandOverMarks::Pending marks;
    {
        boost::lock_guard<boost::mutex> guard(m_mutex);
        try {
            m_session->begin();
            m_inTransaction = true;
        } catch (const std::exception& e) {
            throw CommitFailure(Failure("cannot begin a transaction", e).what());
        }
        marks = FoldMarksLocked();
    }
    try {
        work();
    } catch (...) {
        Commit(marks);
        throw;
    }
    Commit(marks);
    PruneDue();
}

// Every transaction takes the hand-over marks made since the last one along. A mark that cannot be
// folded stays in its slot for the next.
CHandOverMarks::Pending CAgentStore::FoldMarksLocked() {
    CHandOverMarks::Pending marks;
    if (!m_marks) {
        return marks;
    }
    marks = m_marks->Unfolded();
    try {
        PutMarksInRows(marks.sequences);
    } catch (const std::exception&) {
        marks.sequences.clear();
        marks.through = 0;
    }
    return marks;
}

// What was appended stays even when part of the work failed: each append reports its own failure.
// A commit that fails (a full disk) leaves nothing of the transaction; it is rolled back so that the
// connection can take the next one.
void CAgentStore::Commit(const CHandOverMarks::Pending& marks) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    m_inTransaction = false;
    m_transactionEnded.notify_all();
    try {
        m_session->commit();
        m_committedThrough = m_lastSequence;
        if (m_marks) {
            m_marks->Release(marks.through);
        }
    } catch (const std::exception& e) {
        // The rolled back sequences are handed out again.
        m_lastSequence = m_committedThrough;
        RollBackLocked();
        throw CommitFailure(Failure("cannot commit; the transaction's messages are lost", e).what());
    }
}

void CAgentStore::Prune() {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        m_lastAgePrune = 0;
        PruneLocked();
    } catch (const std::exception& e) {
        throw Failure("cannot prune", e);
    }
}

// A failed pruning changes nothing; the next commit reports the state of the disk.
void CAgentStore::PruneDue() {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        PruneLocked();
    } catch (const std::exception&) {
    }
}

// By count, through the primary key: sequences only grow, so the rows beyond the limit are those at
// or below the newest sequence minus the limit. By age once a minute, as that deletes rows one by one.
void CAgentStore::PruneLocked() {
    if (m_limits.keepRows > 0 && PruneFloor(m_lastSequence - m_limits.keepRows) > m_prunedThrough) {
        Poco::Int64 through = PruneFloor(m_lastSequence - m_limits.keepRows);
        *m_session << "DELETE FROM messages WHERE sequence <= ?", use(through), now;
        m_prunedThrough = through;
    }
    const int64_t seconds = EpochSeconds();
    if (m_limits.keepDays > 0 && seconds - m_lastAgePrune >= kAgePruneSeconds) {
        const Poco::Timestamp cutoff =
            Poco::Timestamp() - Poco::Timespan(m_limits.keepDays * kSecondsPerDay, 0);
        std::string oldest = Poco::DateTimeFormatter::format(cutoff, "%Y-%m-%dT%H:%M:%S.%iZ");
        Poco::Int64 through = PruneFloor(m_lastSequence);
        *m_session << "DELETE FROM messages WHERE time < ? AND sequence <= ?", use(oldest), use(through), now;
        m_lastAgePrune = seconds;
    }
}

// Rows the server has not acknowledged stay when the limits say so.
int64_t CAgentStore::PruneFloor(int64_t through) const {
    return m_limits.keepUnsent ? std::min(through, m_acknowledged) : through;
}

int64_t CAgentStore::CommittedThrough() {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    return m_committedThrough;
}

void CAgentStore::Acknowledge(int64_t sequence) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    if (sequence == m_acknowledged) {
        return;
    }
    try {
        std::string name = kAcknowledgedSetting;
        std::string value = std::to_string(sequence);
        *m_session << "INSERT OR REPLACE INTO agent (name, value) VALUES (?, ?)", useRef(name), useRef(value),
            now;
        m_acknowledged = sequence;
    } catch (const std::exception& e) {
        throw Failure("cannot keep what the server acknowledged", e);
    }
}

int64_t CAgentStore::Acknowledged() {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    return m_acknowledged;
}

std::string CAgentStore::Setting(const std::string& name, const std::string& fallback) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        return SettingLocked(name, fallback);
    } catch (const std::exception& e) {
        throw Failure("cannot read the setting " + name, e);
    }
}

std::string CAgentStore::SettingLocked(const std::string& name, const std::string& fallback) {
    std::vector<std::string> values;
    *m_session << "SELECT value FROM agent WHERE name = ?", useRef(name), into(values), now;
    return values.empty() ? fallback : values[0];
}

void CAgentStore::SetSetting(const std::string& name, const std::string& value) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        *m_session << "INSERT OR REPLACE INTO agent (name, value) VALUES (?, ?)", useRef(name), useRef(value),
            now;
    } catch (const std::exception& e) {
        throw Failure("cannot keep the setting " + name, e);
    }
}

std::vector<CAgentStore::Record> CAgentStore::Query(const Filter& filter) {
    std::vector<Record> records;
    for (int64_t from = 0, next = 0;; from = next) {
        next = Scan(filter, from, kScanPage, Order::Oldest, records);
        if (next == from) {
            return records;
        }
    }
}

// Rows are in publication order and stamped as they are stored, so the first row at or after a time
// (found through the time index) is where a range starts and the first one past it is where it ends;
// every row is still checked against the bounds themselves. The unary '+' keeps the time index out of
// the row scan, which must follow the primary key or the type index to need no sort.
std::string CAgentStore::ScanStatement(const Filter& filter, Order order, bool from) {
    std::string sql =
        "SELECT sequence, time, type, class, description, user_context, content FROM messages WHERE 1";
    if (from) {
        sql += order == Order::Oldest ? " AND sequence > ?" : " AND sequence < ?";
    }
    if (!filter.types.empty()) {
        sql += " AND type IN (";
        for (size_t i = 0; i < filter.types.size(); ++i) {
            sql += (i == 0 ? "" : ", ") + std::to_string(filter.types[i]);
        }
        sql += ")";
    }
    if (!filter.since.empty()) {
        sql +=
            " AND sequence >= (SELECT sequence FROM messages WHERE time >= ? ORDER BY time, sequence LIMIT 1)"
            " AND +time >= ?";
    }
    if (!filter.until.empty()) {
        sql +=
            " AND sequence < coalesce((SELECT sequence FROM messages WHERE time > ? ORDER BY time, sequence "
            "LIMIT 1), 9223372036854775807) AND +time <= ?";
    }
    if (!filter.task.empty()) {
        sql += " AND content LIKE ? ESCAPE '\\'";
    }
    return sql + (order == Order::Oldest ? " ORDER BY sequence" : " ORDER BY sequence DESC") + " LIMIT ?";
}

int64_t CAgentStore::Scan(const Filter& filter, int64_t from, size_t count, Order order,
                          std::vector<Record>& records) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    std::vector<Poco::Int64> sequences, types;
    std::vector<std::string> times, classes, descriptions, contexts, contents;
    try {
        Poco::Int64 start = from;
        Poco::Int64 limit = static_cast<Poco::Int64>(count);
        // A prefix's end: every time that starts with it sorts below the prefix followed by '~'.
        const std::string untilEnd = filter.until + "~";
        const std::string pattern = "%" + LikeLiteral(filter.task) + "%";
        Poco::Data::Statement select(*m_session);
        select << ScanStatement(filter, order, from != 0);
        if (from != 0) {
            select, use(start);
        }
        if (!filter.since.empty()) {
            select, useRef(filter.since), useRef(filter.since);
        }
        if (!filter.until.empty()) {
            select, useRef(untilEnd), useRef(untilEnd);
        }
        if (!filter.task.empty()) {
            select, useRef(pattern);
        }
        select, use(limit), into(sequences), into(times), into(types), into(classes), into(descriptions),
            into(contexts), into(contents);
        select.execute();
    } catch (const std::exception& e) {
        throw Failure("cannot read messages", e);
    }
    for (size_t i = 0; i < sequences.size(); ++i) {
        Record r;
        r.sequence = sequences[i];
        r.time = std::move(times[i]);
        r.type = static_cast<uint32_t>(types[i]);
        r.className = std::move(classes[i]);
        r.description = std::move(descriptions[i]);
        r.userContext = std::move(contexts[i]);
        r.content = std::move(contents[i]);
        if (filter.task.empty() || CarriesTask(r, filter.task)) {
            records.push_back(std::move(r));
        }
    }
    return sequences.empty() ? from : sequences.back();
}

bool CAgentStore::CarriesTask(const Record& record, const std::string& task) {
    Poco::JSON::Object::Ptr content;
    try {
        content = Poco::JSON::Parser().parse(record.content).extract<Poco::JSON::Object::Ptr>();
    } catch (const Poco::Exception&) {
        return false;  // a damaged row is reported by whoever prints it, when it is selected at all
    }
    const auto same = [&task](const Poco::Dynamic::Var& value) {
        return value.isString() && boost::algorithm::iequals(value.extract<std::string>(), task);
    };
    if (const Poco::JSON::Array::Ptr ids = content->getArray("ids")) {
        for (size_t i = 0; i < ids->size(); ++i) {
            if (same(ids->get(static_cast<unsigned>(i)))) {
                return true;
            }
        }
    }
    const Poco::JSON::Array::Ptr rows = content->getArray("rows");
    for (size_t r = 0; rows && r < rows->size(); ++r) {
        const Poco::JSON::Array::Ptr symbols = rows->getArray(static_cast<unsigned>(r));
        for (size_t i = 0; symbols && i < symbols->size(); ++i) {
            const Poco::JSON::Object::Ptr symbol = symbols->getObject(static_cast<unsigned>(i));
            const int id = symbol ? symbol->optValue<int>("id", 0) : 0;
            if ((id == kFirstTaskId || id == kSecondTaskId || id == kThirdTaskId) &&
                same(symbol->get("value"))) {
                return true;
            }
        }
    }
    return false;
}

std::string CAgentStore::Payload(int64_t sequence) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        std::vector<Poco::Data::BLOB> blobs;
        Poco::Int64 key = sequence;
        *m_session << "SELECT payload FROM messages WHERE sequence = ? AND payload IS NOT NULL", use(key),
            into(blobs), now;
        if (blobs.empty()) {
            return std::string();
        }
        const std::string stored(reinterpret_cast<const char*>(blobs[0].rawContent()), blobs[0].size());
        // Only a reader of a database that no agent has opened since sealing began sees a plain one.
        return CPayloadCipher::IsSealed(stored) ? m_cipher->Open(stored) : stored;
    } catch (const std::exception& e) {
        throw Failure("cannot read message " + std::to_string(sequence), e);
    }
}

std::vector<int64_t> CAgentStore::WithPayload(uint32_t type) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    std::vector<Poco::Int64> sequences;
    try {
        Poco::Int64 key = type;
        *m_session
            << "SELECT sequence FROM messages WHERE type = ? AND payload IS NOT NULL ORDER BY sequence",
            use(key), into(sequences), now;
    } catch (const std::exception& e) {
        throw Failure("cannot read payloads", e);
    }
    return std::vector<int64_t>(sequences.begin(), sequences.end());
}

void CAgentStore::ReplacePayload(int64_t sequence, const std::string& payload) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        Poco::Int64 key = sequence;
        if (payload.empty()) {
            *m_session << "UPDATE messages SET payload = NULL WHERE sequence = ?", use(key), now;
            return;
        }
        Poco::Data::BLOB sealed = BlobOf(Seal(payload));
        *m_session << "UPDATE messages SET payload = ? WHERE sequence = ?", use(sealed), use(key), now;
    } catch (const std::exception& e) {
        throw Failure("cannot replace the payload of message " + std::to_string(sequence), e);
    }
}

std::string CAgentStore::InstanceUUID(const std::function<std::string()>& generate) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        std::vector<std::string> values;
        *m_session << "SELECT value FROM agent WHERE name = 'instance_uuid'", into(values), now;
        if (!values.empty()) {
            return values[0];
        }
        std::string value = generate();
        *m_session << "INSERT INTO agent (name, value) VALUES ('instance_uuid', ?)", use(value), now;
        return value;
    } catch (const std::exception& e) {
        throw Failure("cannot keep the instance UUID", e);
    }
}

// A task line may carry a licence (activate): it is sealed as the payloads are, so that neither the
// database nor its write-ahead log holds it in plain text. Sealed lines are text, the sealed bytes in
// Base64 after a prefix no task line (a JSON object) starts with.
std::string CAgentStore::SealLine(const std::string& line) {
    std::ostringstream text;
    text << kSealedLinePrefix;
    Poco::Base64Encoder encoder(text);
    encoder.rdbuf()->setLineLength(0);
    encoder << m_cipher->Seal(line);
    encoder.close();
    return text.str();
}

// Lines of databases written before lines were sealed are taken as they are. A line the key cannot
// open comes back empty, which the agent then reports and drops as no task.
std::string CAgentStore::OpenLine(const std::string& stored) {
    if (stored.compare(0, std::strlen(kSealedLinePrefix), kSealedLinePrefix) != 0) {
        return stored;
    }
    try {
        std::istringstream text(stored.substr(std::strlen(kSealedLinePrefix)));
        Poco::Base64Decoder decoder(text);
        const std::string sealed((std::istreambuf_iterator<char>(decoder)), std::istreambuf_iterator<char>());
        return m_cipher->Open(sealed);
    } catch (const std::exception&) {
        return std::string();
    }
}

void CAgentStore::AddTask(int64_t sequence, const std::string& line) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        Writes().InsertTask(sequence, SealLine(line), static_cast<int>(TaskState::Stored));
    } catch (const std::exception& e) {
        throw Failure("cannot keep task " + std::to_string(sequence), e);
    }
}

// The marks not yet in the tasks' rows: the writer's own, or what a reader finds in the writer's file.
std::vector<int64_t> CAgentStore::Marked() const {
    if (m_marks) {
        return m_marks->Unfolded().sequences;
    }
    const std::string marks = m_path + kMarksSuffix;
    return Poco::File(marks).exists() ? CHandOverMarks::Read(marks) : std::vector<int64_t>();
}

void CAgentStore::MarkHanded(int64_t sequence) {
    if (!m_marks) {
        throw std::runtime_error("Agent database " + m_path + ": cannot mark task " +
                                 std::to_string(sequence) + ": opened for reading");
    }
    while (!m_marks->Mark(sequence)) {
        MakeRoomForMarks();
    }
}

// Every slot waits for a commit: the marker commits them itself, once no other transaction is open
// (one of the bus's may be, its disk stalled), and waits until then.
void CAgentStore::MakeRoomForMarks() {
    boost::unique_lock<boost::mutex> guard(m_mutex);
    m_transactionEnded.wait(guard, [this] { return !m_inTransaction; });
    try {
        m_session->begin();
        const CHandOverMarks::Pending marks = FoldMarksLocked();
        m_session->commit();
        m_marks->Release(marks.through);
    } catch (const std::exception& e) {
        RollBackLocked();
        throw Failure("cannot commit the hand-over marks", e);
    }
}

// After a failed statement or commit, so that the connection can take the next transaction.
void CAgentStore::RollBackLocked() {
    try {
        *m_session << "ROLLBACK", now;
    } catch (const std::exception&) {
        // SQLite may have rolled back already.
    }
}

void CAgentStore::FinishTask(int64_t sequence) {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    try {
        Writes().DeleteTask(sequence);
    } catch (const std::exception& e) {
        throw Failure("cannot finish task " + std::to_string(sequence), e);
    }
}

std::vector<CAgentStore::Task> CAgentStore::UnfinishedTasks() {
    boost::lock_guard<boost::mutex> guard(m_mutex);
    // Before the rows: a mark folded and freed meanwhile is then in its row.
    const std::vector<int64_t> marked = Marked();
    std::vector<Poco::Int64> sequences;
    std::vector<std::string> lines;
    std::vector<int> states;
    try {
        *m_session << "SELECT sequence, line, state FROM tasks ORDER BY sequence", into(sequences),
            into(lines), into(states), now;
    } catch (const std::exception& e) {
        throw Failure("cannot read the unfinished tasks", e);
    }
    std::vector<Task> tasks(sequences.size());
    for (size_t i = 0; i < tasks.size(); ++i) {
        tasks[i].sequence = sequences[i];
        tasks[i].line = OpenLine(lines[i]);
        const bool handed =
            states[i] != 0 || std::find(marked.begin(), marked.end(), sequences[i]) != marked.end();
        tasks[i].state = handed ? TaskState::Handed : TaskState::Stored;
    }
    return tasks;
}

// Without the trailing separator Poco leaves, so that refusals name the folder as people write it.
std::string CAgentStore::FolderOf(const std::string& path) {
    std::string folder = Poco::Path(path).parent().toString();
    if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
    }
    return folder.empty() ? std::string(".") : folder;
}

std::string CAgentStore::Now() {
    return Poco::DateTimeFormatter::format(Poco::Timestamp(), "%Y-%m-%dT%H:%M:%S.%iZ");
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
