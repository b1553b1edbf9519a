#pragma once

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <string>
#include <vector>

#include "tools/product/ProductRecords.h"

namespace Zun {
namespace Tools {
namespace Product {
class CJsonReader;
}
}  // namespace Tools
}  // namespace Zun

namespace Zun {
namespace Tools {
namespace Product {

// The records of the state file and of the control operations, to and from JSON. Readers throw
// CJsonError with the path of the offending field (for example "Licenses[1].ActivatedByZun").
class CStateJson {
public:
    static std::vector<StatusEntry> ReadStatus(const Poco::JSON::Array::Ptr& array, const std::string& path);
    static std::vector<LicenceEntry> ReadLicences(const Poco::JSON::Array::Ptr& array,
                                                  const std::string& path);
    static std::vector<TaskResult> ReadTaskResults(const Poco::JSON::Array::Ptr& array,
                                                   const std::string& path);
    static std::vector<RecoveryPasswordEntry> ReadPasswords(const Poco::JSON::Array::Ptr& array,
                                                            const std::string& path);
    static std::vector<RecoveryDataEntry> ReadRecoveryData(const Poco::JSON::Array::Ptr& array,
                                                           const std::string& path);

    static Poco::JSON::Object::Ptr Write(const StatusEntry& entry);
    static Poco::JSON::Object::Ptr Write(const LicenceEntry& entry);
    static Poco::JSON::Object::Ptr Write(const TaskResult& entry);
    static Poco::JSON::Object::Ptr Write(const RecoveryPasswordEntry& entry, bool maskSecrets);
    static Poco::JSON::Object::Ptr Write(const RecoveryDataEntry& entry, bool maskSecrets);

    // The USERDATA a task result carries back: the task's three identifiers, UUIDs joined by ";",
    // as the module sent them. The module cannot match anything else to a task.
    static std::string UserData(CJsonReader& reader, const std::string& key);
    // Every error of a list, one per line.
    static std::string Lines(const std::vector<std::string>& errors);

    // Resource identifiers read best as hexadecimal text.
    static std::string Hex(std::int64_t value);
    static std::string Masked(const std::string& secret);
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
