#pragma once

#include <boost/shared_ptr.hpp>

#include "host/proto/Logs.pb.h"

namespace Zun {
namespace Common {
namespace Logs {

class IProtobufGetter {
public:
    virtual ~IProtobufGetter() = default;
    virtual boost::shared_ptr<DataDefinition::Logs::LogSymbolContainer> GetProtobuf() const = 0;
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
