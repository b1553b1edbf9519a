#pragma once

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/uuid/uuid.hpp>
#include <cstdint>
#include <string>

#include "logs/BaseType.h"

namespace Zun {
namespace Common {
namespace Logs {

// One value of type T stored under data-type code N.
template <typename T, int N>
class SubType : public BaseType {
public:
    typedef T ValueType;
    static constexpr int Code = N;
    explicit SubType(const T& value) : m_value(value) {}

    int GetTypeCode() const override { return N; }
    const T& GetValue() const { return m_value; }
    void SetValue(const T& value) { m_value = value; }

private:
    T m_value;
};

// The container's data-type codes; blob and string both hold bytes but stay distinct types.
typedef SubType<std::string, 0> BlobValue;
typedef SubType<int64_t, 1> IntValue;
typedef SubType<double, 2> DoubleValue;
typedef SubType<std::string, 3> StringValue;
typedef SubType<int64_t, 4> ResIdValue;
typedef SubType<boost::posix_time::ptime, 5> TimeDateValue;
typedef SubType<boost::uuids::uuid, 6> UuidValue;
typedef SubType<bool, 7> BoolValue;

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
