#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "logs/CSymbolContainer.h"
#include "logs/SubType.h"

namespace Zun {
namespace Common {
namespace Logs {

namespace {

using boost::posix_time::ptime;

enum PackedTag {
    kTagInt = 1,
    kTagDouble = 2,
    kTagString = 3,
    kTagResId = 4,
    kTagUuid = 5,
    kTagTimeDate = 6,
    kTagBool = 7,
    kTagBlob = 8,
};

const size_t kInt32Size = 4;
const size_t kInt64Size = 8;

// Tick counts of the time point: microseconds since the start of the Julian day count.
const int64_t kTicksPerDay = 86400000000LL;
const int64_t kNotATimeTicks = std::numeric_limits<int64_t>::max() - 1;
const int64_t kPosInfinityTicks = std::numeric_limits<int64_t>::max();
const int64_t kNegInfinityTicks = std::numeric_limits<int64_t>::min();

const boost::gregorian::date& FirstDay() {
    static const boost::gregorian::date first(1400, 1, 1);
    return first;
}

int64_t FirstTick() {
    return static_cast<int64_t>(FirstDay().day_number()) * kTicksPerDay;
}

int64_t EndTick() {
    static const boost::gregorian::date last(9999, 12, 31);
    return (static_cast<int64_t>(last.day_number()) + 1) * kTicksPerDay;
}

int64_t ToTicks(const ptime& value) {
    if (value.is_not_a_date_time()) {
        return kNotATimeTicks;
    }
    if (value.is_pos_infinity()) {
        return kPosInfinityTicks;
    }
    if (value.is_neg_infinity()) {
        return kNegInfinityTicks;
    }
    return FirstTick() + (value - ptime(FirstDay())).total_microseconds();
}

ptime FromTicks(int64_t ticks) {
    if (ticks == kNotATimeTicks) {
        return ptime(boost::posix_time::not_a_date_time);
    }
    if (ticks == kPosInfinityTicks) {
        return ptime(boost::posix_time::pos_infin);
    }
    if (ticks == kNegInfinityTicks) {
        return ptime(boost::posix_time::neg_infin);
    }
    // Outside the calendar the date library cannot name the day; refuse rather than wrap.
    if (ticks < FirstTick() || ticks >= EndTick()) {
        throw std::runtime_error("Packed symbols: time point is outside the calendar");
    }
    return ptime(FirstDay()) + boost::posix_time::microseconds(ticks - FirstTick());
}

size_t PayloadSize(const BaseType& value) {
    switch (value.GetTypeCode()) {
        case BlobValue::Code:
            return kInt32Size + static_cast<const BlobValue&>(value).GetValue().size();
        case StringValue::Code:
            return kInt32Size + static_cast<const StringValue&>(value).GetValue().size();
        case IntValue::Code:
        case DoubleValue::Code:
        case ResIdValue::Code:
        case TimeDateValue::Code:
            return kInt64Size;
        case UuidValue::Code:
            return boost::uuids::uuid::static_size();
        case BoolValue::Code:
            return 1;
    }
    throw std::runtime_error("Unsupported conversion");
}

// Appends little-endian fields; the caller's size is applied at the end, so a wrong size can only
// be refused, never overrun.
class PackedWriter {
public:
    void Int32(int32_t value) { Unsigned(static_cast<uint32_t>(value), kInt32Size); }
    void Int64(int64_t value) { Unsigned(static_cast<uint64_t>(value), kInt64Size); }
    void Double(double value) {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        Unsigned(bits, kInt64Size);
    }
    void Bytes(const void* data, size_t length) { m_bytes.append(static_cast<const char*>(data), length); }
    void Text(const std::string& text) {
        if (text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
            throw std::runtime_error("Packed symbols: value is too long");
        }
        Int32(static_cast<int32_t>(text.size()));
        m_bytes += text;
    }
    std::string PaddedTo(size_t size) {
        if (m_bytes.size() > size) {
            throw std::runtime_error("Packed symbols: size is too small for the content");
        }
        m_bytes.resize(size, '\0');
        return std::move(m_bytes);
    }

private:
    void Unsigned(uint64_t value, size_t width) {
        for (size_t i = 0; i < width; ++i) {
            m_bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
        }
    }

    std::string m_bytes;
};

template <typename V>
const typename V::ValueType& ValueOf(const BaseType& value) {
    return static_cast<const V&>(value).GetValue();
}

void WriteRecord(PackedWriter& out, const BaseType& value) {
    switch (value.GetTypeCode()) {
        case BlobValue::Code:
            out.Int32(kTagBlob);
            return out.Text(ValueOf<BlobValue>(value));
        case IntValue::Code:
            out.Int32(kTagInt);
            return out.Int64(ValueOf<IntValue>(value));
        case DoubleValue::Code:
            out.Int32(kTagDouble);
            return out.Double(ValueOf<DoubleValue>(value));
        case StringValue::Code:
            out.Int32(kTagString);
            return out.Text(ValueOf<StringValue>(value));
        case ResIdValue::Code:
            out.Int32(kTagResId);
            return out.Int64(ValueOf<ResIdValue>(value));
        case TimeDateValue::Code:
            out.Int32(kTagTimeDate);
            return out.Int64(ToTicks(ValueOf<TimeDateValue>(value)));
        case UuidValue::Code:
            out.Int32(kTagUuid);
            return out.Bytes(ValueOf<UuidValue>(value).data, boost::uuids::uuid::static_size());
        case BoolValue::Code:
            out.Int32(kTagBool);
            return out.Bytes(ValueOf<BoolValue>(value) ? "\x01" : "\x00", 1);
    }
    throw std::runtime_error("Unsupported conversion");
}

}  // namespace

// Reads little-endian fields from untrusted input. Every count and length is checked against the
// bytes that remain before anything is read or allocated for it.
class CSymbolContainer::PackedReader {
public:
    PackedReader(const char* data, size_t length) : m_data(data), m_length(length) {}

    int32_t Int32() { return static_cast<int32_t>(Unsigned(kInt32Size)); }
    int64_t Int64() { return static_cast<int64_t>(Unsigned(kInt64Size)); }
    double Double() {
        const uint64_t bits = Unsigned(kInt64Size);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    bool Bool() { return Unsigned(1) == 1; }
    ptime TimePoint() { return FromTicks(Int64()); }
    boost::uuids::uuid UuidBytes() {
        boost::uuids::uuid value = {};
        Require(value.static_size());
        std::memcpy(value.data, m_data + m_position, value.static_size());
        m_position += value.static_size();
        return value;
    }
    std::string Text() {
        const size_t length = Count(1);
        const std::string text(m_data + m_position, length);
        m_position += length;
        return text;
    }
    // A count of items of the given size that must all still fit in the input.
    size_t Count(size_t itemSize) {
        const int32_t count = Int32();
        if (count < 0) {
            throw std::runtime_error("Packed symbols: negative count or length");
        }
        Require(static_cast<size_t>(count) * itemSize);
        return static_cast<size_t>(count);
    }

private:
    uint64_t Unsigned(size_t width) {
        Require(width);
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            value |= static_cast<uint64_t>(static_cast<unsigned char>(m_data[m_position + i])) << (8 * i);
        }
        m_position += width;
        return value;
    }
    void Require(size_t length) const {
        if (length > m_length - m_position) {
            throw std::runtime_error("Packed symbols: input is truncated");
        }
    }

    const char* m_data;
    size_t m_length;
    size_t m_position = 0;
};

size_t CSymbolContainer::GetPackedSize() const {
    size_t size = kInt32Size;
    for (const ValuePtr& value : m_values) {
        size += 2 * kInt32Size + PayloadSize(*value);
    }
    return size;
}

std::string CSymbolContainer::SerializePacked(size_t size) const {
    PackedWriter out;
    out.Int32(static_cast<int32_t>(m_ids.size()));
    for (int32_t id : m_ids) {
        out.Int32(id);
    }
    for (const ValuePtr& value : m_values) {
        WriteRecord(out, *value);
    }
    return out.PaddedTo(size);
}

void CSymbolContainer::DeserializePacked(const char* data, size_t length) {
    PackedReader in(data, length);
    std::vector<int32_t> ids(in.Count(kInt32Size));
    for (int32_t& id : ids) {
        id = in.Int32();
    }
    for (int32_t id : ids) {
        AddPackedRecord(in, id);
    }
}

void CSymbolContainer::DeserializePacked(const std::string& bytes) {
    DeserializePacked(bytes.data(), bytes.size());
}

void CSymbolContainer::AddPackedRecord(PackedReader& in, int32_t id) {
    switch (in.Int32()) {
        case kTagInt:
            AddInt(id, in.Int64());
            break;
        case kTagDouble:
            AddDouble(id, in.Double());
            break;
        case kTagString:
            AddString(id, in.Text());
            break;
        case kTagResId:
            AddResId(id, in.Int64());
            break;
        case kTagUuid:
            AddUuid(id, in.UuidBytes());
            break;
        case kTagTimeDate:
            AddTimePoint(id, in.TimePoint());
            break;
        case kTagBool:
            AddBool(id, in.Bool());
            break;
        case kTagBlob:
            AddBlob(id, in.Text());
            break;
        default:
            throw std::runtime_error("Unimplemented type handler");
    }
}

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
