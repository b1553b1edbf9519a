#include "tools/product/CStateJson.h"

#include <Poco/JSON/Stringifier.h>

#include <boost/algorithm/string/split.hpp>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <regex>

#include "messages/Base64.h"
#include "tools/product/CJsonReader.h"

namespace Zun {
namespace Tools {
namespace Product {

namespace {

// The module reads resource identifiers as signed 64-bit hexadecimal, so negative ones cannot travel.
constexpr std::int64_t kResIdMax = INT64_MAX;
constexpr std::int64_t kUInt32Max = 0xFFFFFFFF;
// A task's first, second and third identifier.
constexpr std::size_t kTaskIdentifiers = 3;

// The faults of one record, each field read on its own, so that a record shows all it has.
class CRecordFaults {
public:
    void Read(const std::function<void()>& field) {
        try {
            field();
        } catch (const CJsonError& e) {
            m_errors.push_back(e.what());
        }
    }
    void Finish(CJsonReader& reader) {
        Read([&reader] { reader.Finish(); });
        if (!m_errors.empty()) {
            throw CJsonError(CStateJson::Lines(m_errors));
        }
    }

private:
    std::vector<std::string> m_errors;
};

// A recovery record is confirmed and answered by its Uid: two records under one Uid could not be
// told apart.
template <typename T>
void CheckUniqueUids(const std::vector<T>& entries, const std::string& path) {
    std::map<std::string, std::size_t> first;
    std::vector<std::string> errors;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto seen = first.emplace(entries[i].Uid, i);
        if (!seen.second) {
            errors.push_back(path + "[" + std::to_string(i) + "].Uid: '" + entries[i].Uid +
                             "' is given again (first at " + path + "[" + std::to_string(seen.first->second) +
                             "])");
        }
    }
    if (!errors.empty()) {
        throw CJsonError(CStateJson::Lines(errors));
    }
}

// Every record is read, so that one look at a state file shows all that is wrong with it.
template <typename T>
std::vector<T> ReadEach(const Poco::JSON::Array::Ptr& array, const std::string& path,
                        const std::function<T(CJsonReader&)>& read) {
    std::vector<T> entries;
    std::vector<std::string> errors;
    for (std::size_t i = 0; i < array->size(); ++i) {
        try {
            CJsonReader reader(array->get(static_cast<unsigned>(i)), path + "[" + std::to_string(i) + "]");
            entries.push_back(read(reader));
        } catch (const CJsonError& e) {
            errors.push_back(e.what());
        }
    }
    if (!errors.empty()) {
        throw CJsonError(CStateJson::Lines(errors));
    }
    return entries;
}

bool IsUuid(const std::string& text) {
    static const std::regex form(
        "[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}");
    return std::regex_match(text, form);
}

Poco::JSON::Object::Ptr NewObject() {
    return new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

template <typename T>
void SetOptional(Poco::JSON::Object::Ptr object, const std::string& key, const std::optional<T>& value) {
    if (value) {
        object->set(key, *value);
    }
}

// Text that ends up in an XML attribute: the module's XML reader stops at a zero byte.
std::string XmlText(CJsonReader& reader, const std::string& key) {
    const std::string text = reader.String(key);
    if (text.find('\0') != std::string::npos) {
        throw CJsonError(reader.Path(key) + ": must not contain a zero character");
    }
    return text;
}

std::optional<std::string> OptionalXmlText(CJsonReader& reader, const std::string& key) {
    return reader.Has(key) ? std::optional<std::string>(XmlText(reader, key)) : reader.OptionalString(key);
}

// Binary secrets may be given as Base64 instead of text.
std::string ReadSecret(CJsonReader& reader) {
    if (reader.Has("ValueBase64")) {
        const std::string text = reader.String("ValueBase64");
        try {
            return Connectors::Common::DecodeBase64(text);
        } catch (const std::exception&) {
            throw CJsonError(reader.Path("ValueBase64") + ": not valid Base64");
        }
    }
    reader.OptionalString("ValueBase64");
    return reader.String("Value");
}

StatusEntry ReadStatusEntry(CJsonReader& reader) {
    StatusEntry entry;
    CRecordFaults faults;
    bool statusRead = false;
    faults.Read([&] {
        entry.Status = static_cast<std::uint32_t>(reader.Integer("Status", 0, kUInt32Max));
        statusRead = true;
        if (entry.Status != 0xFFFFFFFF && entry.Status > 2) {
            throw CJsonError(reader.Path("Status") + ": must be 0, 1, 2 or 0xFFFFFFFF");
        }
    });
    faults.Read([&] { entry.CategoryResId = reader.OptionalInteger("CategoryResId", 0, kResIdMax); });
    faults.Read([&] { entry.StatusResId = reader.OptionalInteger("StatusResId", 0, kResIdMax); });
    faults.Read([&] { entry.DescriptionResId = reader.OptionalInteger("DescriptionResId", 0, kResIdMax); });
    faults.Read([&] {
        if (statusRead && entry.Status != 0xFFFFFFFF && (!entry.CategoryResId || !entry.StatusResId)) {
            throw CJsonError(reader.Path("Status") + ": CategoryResId and StatusResId are required");
        }
    });
    faults.Finish(reader);
    return entry;
}

LicenceEntry ReadLicenceEntry(CJsonReader& reader) {
    LicenceEntry entry;
    CRecordFaults faults;
    faults.Read([&] { entry.AssociatedSeatId = XmlText(reader, "AssociatedSeatId"); });
    faults.Read([&] { entry.LicensePublicId = XmlText(reader, "LicensePublicId"); });
    faults.Read([&] { entry.LicenseProductName = XmlText(reader, "LicenseProductName"); });
    faults.Read([&] {
        const auto expiration = reader.OptionalInteger("LicenseExpirationDate", INT32_MIN, INT32_MAX);
        if (expiration) {
            entry.LicenseExpirationDate = static_cast<std::int32_t>(*expiration);
        }
    });
    faults.Read([&] { entry.ActivatedByZun = reader.OptionalBool("ActivatedByZun").value_or(false); });
    faults.Read([&] { entry.ProductCode = reader.OptionalInteger("ProductCode", INT64_MIN, INT64_MAX); });
    faults.Read([&] { entry.SeatName = OptionalXmlText(reader, "SeatName"); });
    faults.Read([&] {
        entry.LicenseRenewalPeriod = reader.OptionalInteger("LicenseRenewalPeriod", INT64_MIN, INT64_MAX);
    });
    faults.Read([&] { entry.LicenseType = OptionalXmlText(reader, "LicenseType"); });
    faults.Read([&] { entry.LicenseFlags = reader.OptionalInteger("LicenseFlags", INT64_MIN, INT64_MAX); });
    faults.Read([&] { entry.LicenseModelType = OptionalXmlText(reader, "LicenseModelType"); });
    faults.Read([&] { entry.LicenseModelStatus = OptionalXmlText(reader, "LicenseModelStatus"); });
    faults.Finish(reader);
    return entry;
}

}  // namespace

std::vector<StatusEntry> CStateJson::ReadStatus(const Poco::JSON::Array::Ptr& array,
                                                const std::string& path) {
    return ReadEach<StatusEntry>(array, path, ReadStatusEntry);
}

std::vector<LicenceEntry> CStateJson::ReadLicences(const Poco::JSON::Array::Ptr& array,
                                                   const std::string& path) {
    return ReadEach<LicenceEntry>(array, path, ReadLicenceEntry);
}

std::vector<TaskResult> CStateJson::ReadTaskResults(const Poco::JSON::Array::Ptr& array,
                                                    const std::string& path) {
    return ReadEach<TaskResult>(array, path, [](CJsonReader& reader) {
        TaskResult entry;
        CRecordFaults faults;
        faults.Read([&] { entry.UserData = UserData(reader, "UserData"); });
        faults.Read([&] {
            entry.Result =
                static_cast<std::uint32_t>(reader.OptionalInteger("Result", 0, kUInt32Max).value_or(1));
        });
        faults.Finish(reader);
        return entry;
    });
}

std::vector<RecoveryPasswordEntry> CStateJson::ReadPasswords(const Poco::JSON::Array::Ptr& array,
                                                             const std::string& path) {
    const auto entries = ReadEach<RecoveryPasswordEntry>(array, path, [](CJsonReader& reader) {
        RecoveryPasswordEntry entry;
        CRecordFaults faults;
        faults.Read([&] { entry.Uid = XmlText(reader, "Uid"); });
        faults.Read([&] { entry.DeviceId = XmlText(reader, "DeviceId"); });
        faults.Read([&] { entry.Index = XmlText(reader, "Index"); });
        faults.Read([&] { entry.Secret = ReadSecret(reader); });
        faults.Finish(reader);
        return entry;
    });
    CheckUniqueUids(entries, path);
    return entries;
}

std::vector<RecoveryDataEntry> CStateJson::ReadRecoveryData(const Poco::JSON::Array::Ptr& array,
                                                            const std::string& path) {
    const auto entries = ReadEach<RecoveryDataEntry>(array, path, [](CJsonReader& reader) {
        RecoveryDataEntry entry;
        CRecordFaults faults;
        faults.Read([&] { entry.Uid = XmlText(reader, "Uid"); });
        faults.Read([&] { entry.DeviceId = XmlText(reader, "DeviceId"); });
        faults.Read([&] { entry.Secret = ReadSecret(reader); });
        faults.Finish(reader);
        return entry;
    });
    CheckUniqueUids(entries, path);
    return entries;
}

std::string CStateJson::UserData(CJsonReader& reader, const std::string& key) {
    const std::string text = XmlText(reader, key);
    std::vector<std::string> ids;
    boost::algorithm::split(ids, text, [](char c) { return c == ';'; });
    if (ids.size() != kTaskIdentifiers || !std::all_of(ids.begin(), ids.end(), IsUuid)) {
        throw CJsonError(reader.Path(key) + ": must be three UUIDs joined by \";\", not \"" + text + "\"");
    }
    return text;
}

std::string CStateJson::Lines(const std::vector<std::string>& errors) {
    std::string text;
    for (const std::string& error : errors) {
        text += (text.empty() ? "" : "\n") + error;
    }
    return text;
}

std::string CStateJson::Hex(std::int64_t value) {
    char text[24];
    std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string CStateJson::Masked(const std::string& secret) {
    return "<" + std::to_string(secret.size()) + " bytes>";
}

Poco::JSON::Object::Ptr CStateJson::Write(const StatusEntry& entry) {
    Poco::JSON::Object::Ptr object = NewObject();
    object->set("Status", Hex(entry.Status));
    for (const auto& field : {std::make_pair("CategoryResId", entry.CategoryResId),
                              std::make_pair("StatusResId", entry.StatusResId),
                              std::make_pair("DescriptionResId", entry.DescriptionResId)}) {
        if (field.second) {
            object->set(field.first, Hex(*field.second));
        }
    }
    return object;
}

Poco::JSON::Object::Ptr CStateJson::Write(const LicenceEntry& entry) {
    Poco::JSON::Object::Ptr object = NewObject();
    object->set("AssociatedSeatId", entry.AssociatedSeatId);
    object->set("LicensePublicId", entry.LicensePublicId);
    object->set("LicenseProductName", entry.LicenseProductName);
    SetOptional(object, "LicenseExpirationDate", entry.LicenseExpirationDate);
    object->set("ActivatedByZun", entry.ActivatedByZun);
    SetOptional(object, "ProductCode", entry.ProductCode);
    SetOptional(object, "SeatName", entry.SeatName);
    SetOptional(object, "LicenseRenewalPeriod", entry.LicenseRenewalPeriod);
    SetOptional(object, "LicenseType", entry.LicenseType);
    SetOptional(object, "LicenseFlags", entry.LicenseFlags);
    SetOptional(object, "LicenseModelType", entry.LicenseModelType);
    SetOptional(object, "LicenseModelStatus", entry.LicenseModelStatus);
    return object;
}

Poco::JSON::Object::Ptr CStateJson::Write(const TaskResult& entry) {
    Poco::JSON::Object::Ptr object = NewObject();
    object->set("UserData", entry.UserData);
    object->set("Result", entry.Result);
    return object;
}

Poco::JSON::Object::Ptr CStateJson::Write(const RecoveryPasswordEntry& entry, bool maskSecrets) {
    Poco::JSON::Object::Ptr object = NewObject();
    object->set("Uid", entry.Uid);
    object->set("DeviceId", entry.DeviceId);
    object->set("Index", entry.Index);
    if (maskSecrets) {
        object->set("Value", Masked(entry.Secret));
    } else {
        object->set("ValueBase64", Connectors::Common::EncodeBase64(entry.Secret));
    }
    return object;
}

Poco::JSON::Object::Ptr CStateJson::Write(const RecoveryDataEntry& entry, bool maskSecrets) {
    Poco::JSON::Object::Ptr object = NewObject();
    object->set("Uid", entry.Uid);
    object->set("DeviceId", entry.DeviceId);
    if (maskSecrets) {
        object->set("Value", Masked(entry.Secret));
    } else {
        object->set("ValueBase64", Connectors::Common::EncodeBase64(entry.Secret));
    }
    return object;
}

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
