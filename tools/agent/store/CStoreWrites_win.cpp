#include <Poco/Data/LOB.h>

#include "tools/agent/store/CStoreWrites.h"

namespace Zun {
namespace Tools {
namespace Agent {

using namespace Poco::Data::Keywords;

struct CStoreWrites::Prepared {};

CStoreWrites::CStoreWrites(Poco::Data::Session& session) : m_session(session) {}

CStoreWrites::~CStoreWrites() = default;

int64_t CStoreWrites::InsertMessage(const Message& message) {
    Poco::Int64 type = message.type;
    Poco::Data::Statement insert(m_session);
    insert << "INSERT INTO messages (time, type, class, description, user_context, content, payload) "
              "VALUES (?, ?, ?, ?, ?, ?, "
           << (message.payload == nullptr ? "NULL)" : "?)"),
        useRef(message.time), use(type), useRef(*message.className), useRef(*message.description),
        useRef(*message.userContext), useRef(*message.content);
    Poco::Data::BLOB blob;
    if (message.payload != nullptr) {
        blob = Poco::Data::BLOB(reinterpret_cast<const unsigned char*>(message.payload->data()),
                                message.payload->size());
        insert, use(blob);
    }
    insert.execute();
    Poco::Int64 sequence = 0;
    m_session << "SELECT last_insert_rowid()", into(sequence), now;
    return sequence;
}

void CStoreWrites::InsertTask(int64_t sequence, const std::string& line, int state) {
    Poco::Int64 key = sequence;
    m_session << "INSERT INTO tasks (sequence, line, state) VALUES (?, ?, ?)", use(key), useRef(line),
        use(state), now;
}

void CStoreWrites::RaiseTaskState(int64_t sequence, int state) {
    Poco::Int64 key = sequence;
    m_session << "UPDATE tasks SET state = ? WHERE sequence = ? AND state < ?", use(state), use(key),
        use(state), now;
}

void CStoreWrites::DeleteTask(int64_t sequence) {
    Poco::Int64 key = sequence;
    m_session << "DELETE FROM tasks WHERE sequence = ?", use(key), now;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
