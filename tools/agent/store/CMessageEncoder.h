#pragma once

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <boost/shared_ptr.hpp>
#include <string>

#include "host/CUserContext.h"
#include "host/IMessage.h"
#include "host/proto/Common.pb.h"
#include "host/proto/Encryption.pb.h"
#include "logs/ISymbolContainer.h"
#include "tools/agent/store/CAgentStore.h"

namespace Zun {
namespace Tools {
namespace Agent {

// Turns a bus message into a database record: its class, its description and its content as
// JSON. Logs become rows of symbols with the catalogue's names; agent tasks show their identifiers
// and fields. Recovery passwords and recovery data are replaced by their size in the JSON and kept
// whole only in the record's payload, which no text output shows.
class CMessageEncoder {
public:
    typedef Common::DataDefinition::Encryption::FDERecoveryData RecoveryData;

    static CAgentStore::Record Encode(const Common::Kernel::IMessage& message,
                                      const boost::shared_ptr<Common::Kernel::CUserContext>& userContext);

    static Poco::JSON::Array::Ptr EncodeSymbols(const Common::Logs::ISymbolContainer& symbols);
    static Poco::JSON::Object::Ptr EncodeSymbol(int id,
                                                const Common::DataDefinition::Common::MultiDataType& value);
    static Poco::JSON::Object::Ptr EncodeRecoveryData(const RecoveryData& data);
    // The class name without its namespaces ("CStatusLog").
    static std::string ClassName(const Common::Kernel::IMessage& message);
    static std::string Masked(size_t size) { return "<masked: " + std::to_string(size) + " bytes>"; }

private:
    static Poco::JSON::Object::Ptr EncodeContent(const Common::Kernel::IMessage& message,
                                                 std::string& payload);
    static bool EncodeLog(const Common::Kernel::IMessage& message, Poco::JSON::Object& content);
    static bool EncodeTask(const Common::Kernel::IMessage& message, Poco::JSON::Object& content,
                           std::string& payload);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
