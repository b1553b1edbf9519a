#include "logs/CSymbolContainer.h"

#include <algorithm>
#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/conversion.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/make_shared.hpp>
#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <numeric>
#include <stdexcept>

#include "host/CLogDescriptorMap.h"
#include "logs/CUtf8Cut.h"
#include "logs/SubType.h"

namespace Zun {
namespace Common {
namespace Logs {

namespace {

using boost::posix_time::ptime;

std::runtime_error SymbolError(const char* before, int32_t id, const char* after) {
    return std::runtime_error(before + std::to_string(id) + after);
}

std::runtime_error LockedError(int32_t id) {
    return SymbolError("Cannot add symbol ", id, ": container is locked");
}

template <typename V>
const typename V::ValueType& ValueOf(const BaseType& value) {
    return static_cast<const V&>(value).GetValue();
}

// Text limit of the catalogued symbol; symbols the catalogue does not know have none.
int TextLimit(int32_t id) {
    const CLogDescriptorMap& map = CLogDescriptorMap::Instance();
    if (!map.HasSymbol(id)) {
        return 0;
    }
    return map.GetLogDescriptor(map.GetLogTypeBySymbol(id))->GetSymbolDescriptor(id)->GetOtlLength();
}

template <typename Message>
const Message& RequireInitialized(int32_t id, const Message& value) {
    if (!value.IsInitialized()) {
        throw SymbolError("Symbol ", id, " value is not fully initialized");
    }
    return value;
}

boost::uuids::uuid ParseUuid(const std::string& text) {
    return boost::uuids::string_generator()(text);
}

// The date library stores calendar fields in narrow types; checking the full int32 first keeps an
// out-of-range field from wrapping into a valid one, and raises the library's own exception.
template <typename Error>
unsigned short CalendarField(int32_t value, int32_t lowest, int32_t highest) {
    if (value < lowest || value > highest) {
        throw Error();
    }
    return static_cast<unsigned short>(value);
}

template <typename V>
bool SameAs(const BaseType& a, const BaseType& b) {
    return ValueOf<V>(a) == ValueOf<V>(b);
}

bool SameValue(const BaseType& a, const BaseType& b) {
    if (a.GetTypeCode() != b.GetTypeCode()) {
        return false;
    }
    switch (a.GetTypeCode()) {
        case BlobValue::Code:
            return SameAs<BlobValue>(a, b);
        case IntValue::Code:
            return SameAs<IntValue>(a, b);
        case DoubleValue::Code:
            return SameAs<DoubleValue>(a, b);
        case StringValue::Code:
            return SameAs<StringValue>(a, b);
        case ResIdValue::Code:
            return SameAs<ResIdValue>(a, b);
        case TimeDateValue::Code:
            return SameAs<TimeDateValue>(a, b);
        case UuidValue::Code:
            return SameAs<UuidValue>(a, b);
        case BoolValue::Code:
            return SameAs<BoolValue>(a, b);
    }
    return false;
}

std::vector<size_t> OrderById(const std::vector<int32_t>& ids) {
    std::vector<size_t> order(ids.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&ids](size_t a, size_t b) { return ids[a] < ids[b]; });
    return order;
}

}  // namespace

bool CSymbolContainer::Serialize(std::string& out) const {
    out = BuildMessage().SerializeAsString();
    return !out.empty();
}

bool CSymbolContainer::Deserialize(const std::string& bytes) {
    if (m_locked) {
        throw std::runtime_error("Failed to deserialize symbols: container is locked");
    }
    // The partial parse plus our own required-field check gives the same verdict as a full parse
    // without the library logging every incomplete time or UUID.
    DataDefinition::Logs::LogSymbolContainer message;
    const bool parsed = message.ParsePartialFromString(bytes) && message.IsInitialized();
    for (const DataDefinition::Logs::LogSymbol& symbol : message.symbols()) {
        AddSymbol(symbol.symbol_type(), symbol.symbol_data());
    }
    return parsed;
}

bool CSymbolContainer::HasSymbol(int32_t id) const {
    return Find(id) >= 0;
}

CSymbolContainer::MultiDataType CSymbolContainer::GetSymbol(int32_t id) const {
    return ToMultiDataType(*m_values[FindOrThrow(id)]);
}

bool CSymbolContainer::GetBool(int32_t id) const {
    return Get<BoolValue>(id).GetValue();
}
const std::string& CSymbolContainer::GetBlob(int32_t id) const {
    return Get<BlobValue>(id).GetValue();
}
int64_t CSymbolContainer::GetInt(int32_t id) const {
    return Get<IntValue>(id).GetValue();
}
double CSymbolContainer::GetDouble(int32_t id) const {
    return Get<DoubleValue>(id).GetValue();
}
const std::string& CSymbolContainer::GetString(int32_t id) const {
    return Get<StringValue>(id).GetValue();
}
int64_t CSymbolContainer::GetResId(int32_t id) const {
    return Get<ResIdValue>(id).GetValue();
}
int32_t CSymbolContainer::GetInt32(int32_t id) const {
    return static_cast<int32_t>(GetInt(id));
}

CSymbolContainer::UTCTime CSymbolContainer::GetTimeDate(int32_t id) const {
    return ToUTCTime(Get<TimeDateValue>(id).GetValue());
}

CSymbolContainer::Uuid CSymbolContainer::GetUuid(int32_t id) const {
    Uuid uuid;
    uuid.set_uuid(boost::uuids::to_string(Get<UuidValue>(id).GetValue()));
    return uuid;
}

ISymbolContainer& CSymbolContainer::AddSymbol(int32_t id, const MultiDataType& value) {
    CheckAddable(id);
    if (value.val_bool_size() > 0) {
        return AddBool(id, value.val_bool(0));
    }
    if (value.val_int_size() > 0) {
        return AddInt(id, value.val_int(0));
    }
    if (value.val_double_size() > 0) {
        return AddDouble(id, value.val_double(0));
    }
    if (value.val_res_id_size() > 0) {
        return AddResId(id, value.val_res_id(0));
    }
    if (value.val_string_size() > 0) {
        return AddString(id, value.val_string(0));
    }
    if (value.val_time_date_size() > 0) {
        return AddTimeDate(id, value.val_time_date(0));
    }
    if (value.val_uuid_size() > 0) {
        return AddUuid(id, value.val_uuid(0));
    }
    if (value.val_blob_size() > 0) {
        return AddBlob(id, value.val_blob(0));
    }
    return *this;
}

ISymbolContainer& CSymbolContainer::AddBool(int32_t id, bool value) {
    return Add<BoolValue>(id, value);
}

ISymbolContainer& CSymbolContainer::AddBlob(int32_t id, const std::string& value) {
    return Add<BlobValue>(id, value);
}

ISymbolContainer& CSymbolContainer::AddInt(int32_t id, const int64_t& value) {
    return Add<IntValue>(id, value);
}

ISymbolContainer& CSymbolContainer::AddDouble(int32_t id, const double& value) {
    return Add<DoubleValue>(id, value);
}

ISymbolContainer& CSymbolContainer::AddString(int32_t id, const std::string& value) {
    return Add<StringValue>(id, CUtf8Cut::Cut(value, TextLimit(id)));
}

ISymbolContainer& CSymbolContainer::AddResId(int32_t id, const int64_t& value) {
    return Add<ResIdValue>(id, value);
}

ISymbolContainer& CSymbolContainer::AddInt32(int32_t id, int32_t value) {
    return Add<IntValue>(id, value);
}

ISymbolContainer& CSymbolContainer::AddTimeDate(int32_t id, const UTCTime& value) {
    return AddTimePoint(id, ToTimePoint(RequireInitialized(id, value)));
}

ISymbolContainer& CSymbolContainer::AddCurrentTime(int32_t id) {
    return AddTimePoint(id, boost::posix_time::second_clock::universal_time());
}

ISymbolContainer& CSymbolContainer::AddUuid(int32_t id, const boost::uuids::uuid& value) {
    return Add<UuidValue>(id, value);
}

ISymbolContainer& CSymbolContainer::AddUuid(int32_t id, const std::string& text) {
    return Add<UuidValue>(id, ParseUuid(text));
}

ISymbolContainer& CSymbolContainer::AddUuid(int32_t id, const Uuid& value) {
    return Add<UuidValue>(id, ParseUuid(RequireInitialized(id, value).uuid()));
}

ISymbolContainer& CSymbolContainer::SetSymbol(int32_t id, const MultiDataType& value) {
    if (m_locked) {
        throw LockedError(id);
    }
    RemoveSymbol(id);
    return AddSymbol(id, value);
}

ISymbolContainer& CSymbolContainer::SetInt(int32_t id, const int64_t& value) {
    return Set<IntValue>(id, value);
}

ISymbolContainer& CSymbolContainer::SetString(int32_t id, const std::string& value) {
    return Set<StringValue>(id, value);
}

ISymbolContainer& CSymbolContainer::SetUuid(int32_t id, const std::string& text) {
    return Set<UuidValue>(id, ParseUuid(text));
}

ISymbolContainer& CSymbolContainer::SetResId(int32_t id, const int64_t& value) {
    return Set<ResIdValue>(id, value);
}

ISymbolContainer& CSymbolContainer::SetBlob(int32_t id, const std::string& value) {
    return Set<BlobValue>(id, value);
}

ISymbolContainer& CSymbolContainer::SetTimeDate(int32_t id, const UTCTime& value) {
    return Set<TimeDateValue>(id, ToTimePoint(RequireInitialized(id, value)));
}

ISymbolContainer& CSymbolContainer::RemoveSymbol(int32_t id) {
    const int position = Find(id);
    if (position >= 0) {
        m_ids.erase(m_ids.begin() + position);
        m_codes.erase(m_codes.begin() + position);
        m_values.erase(m_values.begin() + position);
    }
    return *this;
}

int CSymbolContainer::GetSerializedSize() const {
    return static_cast<int>(BuildMessage().ByteSizeLong());
}

CSymbolContainer::MultiDataType CSymbolContainer::GetSymbolAt(size_t index) const {
    return ToMultiDataType(*m_values.at(index));
}

bool CSymbolContainer::Equals(const ISymbolContainer& other) const {
    const CSymbolContainer* that = dynamic_cast<const CSymbolContainer*>(&other);
    if (that == nullptr || that->m_ids.size() != m_ids.size()) {
        return false;
    }
    const std::vector<size_t> mine = OrderById(m_ids);
    const std::vector<size_t> theirs = OrderById(that->m_ids);
    for (size_t i = 0; i < mine.size(); ++i) {
        if (m_ids[mine[i]] != that->m_ids[theirs[i]] ||
            !SameValue(*m_values[mine[i]], *that->m_values[theirs[i]])) {
            return false;
        }
    }
    return true;
}

boost::shared_ptr<ISymbolContainer> CSymbolContainer::Clone() const {
    boost::shared_ptr<CSymbolContainer> copy = boost::make_shared<CSymbolContainer>();
    for (size_t i = 0; i < m_ids.size(); ++i) {
        copy->AddSymbol(m_ids[i], GetSymbolAt(i));
    }
    return copy;
}

boost::shared_ptr<DataDefinition::Logs::LogSymbolContainer> CSymbolContainer::GetProtobuf() const {
    return boost::make_shared<DataDefinition::Logs::LogSymbolContainer>(BuildMessage());
}

boost::posix_time::ptime CSymbolContainer::ToTimePoint(const UTCTime& value) {
    using namespace boost::gregorian;
    const unsigned short year = CalendarField<bad_year>(value.year(), 1400, 9999);
    const unsigned short month = CalendarField<bad_month>(value.month(), 1, 12);
    const date day(year, month, CalendarField<bad_day_of_month>(value.day(), 1, 31));
    // The duration's constructor takes 64-bit fields, lets large values carry into later days and
    // negates the whole time of day, built from absolute values, when any field is negative.
    const ptime point(day, boost::posix_time::time_duration(value.hour(), value.minute(), value.second()));
    // A carry past either end of the calendar is refused here, so that every time point the
    // container holds can be given back as a UTCTime.
    RequireCalendar(point);
    return point;
}

void CSymbolContainer::RequireCalendar(const boost::posix_time::ptime& value) {
    // Past the calendar's range the library would derive a wrapped, wrong year from the day count.
    static const ptime first(boost::gregorian::date(1400, 1, 1));
    static const ptime end(boost::gregorian::date(9999, 12, 31), boost::posix_time::hours(24));
    if (value.is_special() || value < first || !(value < end)) {
        throw boost::gregorian::bad_year();
    }
}

CSymbolContainer::UTCTime CSymbolContainer::ToUTCTime(const boost::posix_time::ptime& value) {
    RequireCalendar(value);
    const boost::gregorian::date::ymd_type ymd = value.date().year_month_day();
    const int64_t micros = value.time_of_day().total_microseconds();
    UTCTime time;
    time.set_year(ymd.year);
    time.set_month(ymd.month);
    time.set_day(ymd.day);
    time.set_hour(static_cast<int32_t>(micros / 3600000000LL));
    time.set_minute(static_cast<int32_t>(micros / 60000000LL % 60));
    time.set_second(static_cast<int32_t>(micros / 1000000LL % 60));
    return time;
}

int CSymbolContainer::Find(int32_t id) const {
    const auto it = std::find(m_ids.begin(), m_ids.end(), id);
    return it == m_ids.end() ? -1 : static_cast<int>(it - m_ids.begin());
}

int CSymbolContainer::FindOrThrow(int32_t id) const {
    const int position = Find(id);
    if (position < 0) {
        throw SymbolError("Cannot find symbol ", id, " in symbol container");
    }
    return position;
}

template <typename V>
const V& CSymbolContainer::Get(int32_t id) const {
    const int position = FindOrThrow(id);
    if (m_codes[position] != V::Code) {
        throw SymbolError("The symbol ", id, " exists but is not of requested type");
    }
    return static_cast<const V&>(*m_values[position]);
}

void CSymbolContainer::CheckAddable(int32_t id) const {
    if (m_locked) {
        throw LockedError(id);
    }
    if (HasSymbol(id)) {
        throw SymbolError("Symbol ", id, " is already in container");
    }
}

void CSymbolContainer::Append(int32_t id, const ValuePtr& value) {
    // Reserving first means a failed allocation cannot leave the three vectors of unequal length.
    m_ids.reserve(m_ids.size() + 1);
    m_codes.reserve(m_codes.size() + 1);
    m_values.reserve(m_values.size() + 1);
    m_ids.push_back(id);
    m_codes.push_back(value->GetTypeCode());
    m_values.push_back(value);
}

template <typename V>
ISymbolContainer& CSymbolContainer::Add(int32_t id, const typename V::ValueType& value) {
    CheckAddable(id);
    Append(id, boost::make_shared<V>(value));
    return *this;
}

ISymbolContainer& CSymbolContainer::AddTimePoint(int32_t id, const boost::posix_time::ptime& value) {
    return Add<TimeDateValue>(id, value);
}

template <typename V>
ISymbolContainer& CSymbolContainer::Set(int32_t id, const typename V::ValueType& value) {
    if (m_locked) {
        throw LockedError(id);
    }
    const int position = Find(id);
    if (position < 0) {
        Append(id, boost::make_shared<V>(value));
    } else if (m_codes[position] != V::Code) {
        throw SymbolError("Cannot set the symbol ", id,
                          " because it exists but is not of same type as before");
    } else {
        m_values[position] = boost::make_shared<V>(value);
    }
    return *this;
}

CSymbolContainer::MultiDataType CSymbolContainer::ToMultiDataType(const BaseType& value) const {
    MultiDataType data;
    switch (value.GetTypeCode()) {
        case BlobValue::Code:
            data.add_val_blob(ValueOf<BlobValue>(value));
            break;
        case IntValue::Code:
            data.add_val_int(ValueOf<IntValue>(value));
            break;
        case DoubleValue::Code:
            data.add_val_double(ValueOf<DoubleValue>(value));
            break;
        case StringValue::Code:
            data.add_val_string(ValueOf<StringValue>(value));
            break;
        case ResIdValue::Code:
            data.add_val_res_id(ValueOf<ResIdValue>(value));
            break;
        case TimeDateValue::Code:
            *data.add_val_time_date() = ToUTCTime(ValueOf<TimeDateValue>(value));
            break;
        case UuidValue::Code:
            data.add_val_uuid()->set_uuid(boost::uuids::to_string(ValueOf<UuidValue>(value)));
            break;
        case BoolValue::Code:
            data.add_val_bool(ValueOf<BoolValue>(value));
            break;
        default:
            throw std::runtime_error("Unsupported conversion");
    }
    return data;
}

DataDefinition::Logs::LogSymbolContainer CSymbolContainer::BuildMessage() const {
    DataDefinition::Logs::LogSymbolContainer message;
    for (size_t i = 0; i < m_ids.size(); ++i) {
        DataDefinition::Logs::LogSymbol* symbol = message.add_symbols();
        symbol->set_symbol_type(m_ids[i]);
        *symbol->mutable_symbol_data() = ToMultiDataType(*m_values[i]);
    }
    return message;
}

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
