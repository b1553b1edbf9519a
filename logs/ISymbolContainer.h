#pragma once

#include <boost/shared_ptr.hpp>
#include <boost/uuid/uuid.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/proto/Common.pb.h"
#include "logs/ILockable.h"
#include "logs/ISerializable.h"

namespace Zun {
namespace Common {
namespace Logs {

// An ordered set of typed symbols: the body of every log. Adds and sets return the container so
// calls chain; every failure is a std::runtime_error with a fixed text.
class ISymbolContainer : public ISerializable, public ILockable {
public:
    typedef DataDefinition::Common::MultiDataType MultiDataType;
    typedef DataDefinition::Common::UTCTime UTCTime;
    typedef DataDefinition::Common::Uuid Uuid;

    virtual bool HasSymbol(int32_t id) const = 0;
    virtual MultiDataType GetSymbol(int32_t id) const = 0;
    virtual bool GetBool(int32_t id) const = 0;
    virtual const std::string& GetBlob(int32_t id) const = 0;
    virtual int64_t GetInt(int32_t id) const = 0;
    virtual double GetDouble(int32_t id) const = 0;
    virtual const std::string& GetString(int32_t id) const = 0;
    virtual int64_t GetResId(int32_t id) const = 0;
    virtual int32_t GetInt32(int32_t id) const = 0;
    virtual UTCTime GetTimeDate(int32_t id) const = 0;
    virtual Uuid GetUuid(int32_t id) const = 0;

    virtual ISymbolContainer& AddSymbol(int32_t id, const MultiDataType& value) = 0;
    virtual ISymbolContainer& AddBool(int32_t id, bool value) = 0;
    virtual ISymbolContainer& AddBlob(int32_t id, const std::string& value) = 0;
    virtual ISymbolContainer& AddInt(int32_t id, const int64_t& value) = 0;
    virtual ISymbolContainer& AddDouble(int32_t id, const double& value) = 0;
    virtual ISymbolContainer& AddString(int32_t id, const std::string& value) = 0;
    virtual ISymbolContainer& AddResId(int32_t id, const int64_t& value) = 0;
    virtual ISymbolContainer& AddInt32(int32_t id, int32_t value) = 0;
    virtual ISymbolContainer& AddTimeDate(int32_t id, const UTCTime& value) = 0;
    virtual ISymbolContainer& AddCurrentTime(int32_t id) = 0;
    virtual ISymbolContainer& AddUuid(int32_t id, const boost::uuids::uuid& value) = 0;
    virtual ISymbolContainer& AddUuid(int32_t id, const std::string& text) = 0;
    virtual ISymbolContainer& AddUuid(int32_t id, const Uuid& value) = 0;

    virtual ISymbolContainer& SetSymbol(int32_t id, const MultiDataType& value) = 0;
    virtual ISymbolContainer& SetInt(int32_t id, const int64_t& value) = 0;
    virtual ISymbolContainer& SetString(int32_t id, const std::string& value) = 0;
    virtual ISymbolContainer& SetUuid(int32_t id, const std::string& text) = 0;
    virtual ISymbolContainer& SetResId(int32_t id, const int64_t& value) = 0;
    virtual ISymbolContainer& SetBlob(int32_t id, const std::string& value) = 0;
    virtual ISymbolContainer& SetTimeDate(int32_t id, const UTCTime& value) = 0;
    virtual ISymbolContainer& RemoveSymbol(int32_t id) = 0;

    virtual int GetSerializedSize() const = 0;
    virtual size_t GetCount() const = 0;
    virtual MultiDataType GetSymbolAt(size_t index) const = 0;
    virtual int32_t GetSymbolIdAt(size_t index) const = 0;
    virtual bool Equals(const ISymbolContainer& other) const = 0;
    virtual boost::shared_ptr<ISymbolContainer> Clone() const = 0;

    // The packed symbol format: a compact little-endian layout of ids and tagged values.
    virtual size_t GetPackedSize() const = 0;
    virtual std::string SerializePacked(size_t size) const = 0;
    virtual void DeserializePacked(const char* data, size_t length) = 0;
    virtual void DeserializePacked(const std::string& bytes) = 0;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
