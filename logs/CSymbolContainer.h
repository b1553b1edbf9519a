#pragma once

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/shared_ptr.hpp>
#include <vector>

#include "logs/BaseType.h"
#include "logs/IProtobufGetter.h"
#include "logs/ISymbolContainer.h"

namespace Zun {
namespace Common {
namespace Logs {

// The symbol container: three parallel vectors (ids, data-type codes, values) in insertion order,
// searched linearly, and a lock flag that turns every write into an error.
class CSymbolContainer : public ISymbolContainer, public IProtobufGetter {
public:
    CSymbolContainer() = default;

    bool Serialize(std::string& out) const override;
    bool Deserialize(const std::string& bytes) override;
    void Lock() override { m_locked = true; }
    void Unlock() override { m_locked = false; }
    bool IsLocked() const { return m_locked; }

    bool HasSymbol(int32_t id) const override;
    MultiDataType GetSymbol(int32_t id) const override;
    bool GetBool(int32_t id) const override;
    const std::string& GetBlob(int32_t id) const override;
    int64_t GetInt(int32_t id) const override;
    double GetDouble(int32_t id) const override;
    const std::string& GetString(int32_t id) const override;
    int64_t GetResId(int32_t id) const override;
    int32_t GetInt32(int32_t id) const override;
    UTCTime GetTimeDate(int32_t id) const override;
    Uuid GetUuid(int32_t id) const override;

    ISymbolContainer& AddSymbol(int32_t id, const MultiDataType& value) override;
    ISymbolContainer& AddBool(int32_t id, bool value) override;
    ISymbolContainer& AddBlob(int32_t id, const std::string& value) override;
    ISymbolContainer& AddInt(int32_t id, const int64_t& value) override;
    ISymbolContainer& AddDouble(int32_t id, const double& value) override;
    ISymbolContainer& AddString(int32_t id, const std::string& value) override;
    ISymbolContainer& AddResId(int32_t id, const int64_t& value) override;
    ISymbolContainer& AddInt32(int32_t id, int32_t value) override;
    ISymbolContainer& AddTimeDate(int32_t id, const UTCTime& value) override;
    ISymbolContainer& AddCurrentTime(int32_t id) override;
    ISymbolContainer& AddUuid(int32_t id, const boost::uuids::uuid& value) override;
    ISymbolContainer& AddUuid(int32_t id, const std::string& text) override;
    ISymbolContainer& AddUuid(int32_t id, const Uuid& value) override;

    ISymbolContainer& SetSymbol(int32_t id, const MultiDataType& value) override;
    ISymbolContainer& SetInt(int32_t id, const int64_t& value) override;
    ISymbolContainer& SetString(int32_t id, const std::string& value) override;
    ISymbolContainer& SetUuid(int32_t id, const std::string& text) override;
    ISymbolContainer& SetResId(int32_t id, const int64_t& value) override;
    ISymbolContainer& SetBlob(int32_t id, const std::string& value) override;
    ISymbolContainer& SetTimeDate(int32_t id, const UTCTime& value) override;
    ISymbolContainer& RemoveSymbol(int32_t id) override;

    int GetSerializedSize() const override;
    size_t GetCount() const override { return m_ids.size(); }
    MultiDataType GetSymbolAt(size_t index) const override;
    int32_t GetSymbolIdAt(size_t index) const override { return m_ids.at(index); }
    bool Equals(const ISymbolContainer& other) const override;
    boost::shared_ptr<ISymbolContainer> Clone() const override;

    size_t GetPackedSize() const override;
    std::string SerializePacked(size_t size) const override;
    void DeserializePacked(const char* data, size_t length) override;
    void DeserializePacked(const std::string& bytes) override;

    boost::shared_ptr<DataDefinition::Logs::LogSymbolContainer> GetProtobuf() const override;

    // Conversions shared with the packed format and the tools that print containers.
    static boost::posix_time::ptime ToTimePoint(const UTCTime& value);
    static UTCTime ToUTCTime(const boost::posix_time::ptime& value);
    // Throws the date library's bad_year for a time point outside years 1400 to 9999.
    static void RequireCalendar(const boost::posix_time::ptime& value);

private:
    typedef boost::shared_ptr<BaseType> ValuePtr;
    class PackedReader;

    int Find(int32_t id) const;
    int FindOrThrow(int32_t id) const;
    template <typename V>
    const V& Get(int32_t id) const;
    void CheckAddable(int32_t id) const;
    void Append(int32_t id, const ValuePtr& value);
    template <typename V>
    ISymbolContainer& Add(int32_t id, const typename V::ValueType& value);
    ISymbolContainer& AddTimePoint(int32_t id, const boost::posix_time::ptime& value);
    void AddPackedRecord(PackedReader& in, int32_t id);
    template <typename V>
    ISymbolContainer& Set(int32_t id, const typename V::ValueType& value);
    MultiDataType ToMultiDataType(const BaseType& value) const;
    DataDefinition::Logs::LogSymbolContainer BuildMessage() const;

    bool m_locked = false;
    std::vector<int32_t> m_ids;
    std::vector<int32_t> m_codes;
    std::vector<ValuePtr> m_values;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
