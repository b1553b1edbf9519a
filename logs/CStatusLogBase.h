#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "bus/CLogMessage.h"
#include "host/CLogDescriptorMap.h"
#include "logs/CMultiSymbolContainer.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Logs {

// What single-product and multi-product status logs share: the type, the rows, the name, the lock
// on publication and the row checks. The two differ in their construction checks and product keys.
class CStatusLogBase : public CLogMessage {
public:
    typedef boost::shared_ptr<Common::Logs::CMultiSymbolContainer> RowsPtr;

    Kernel::MessageType GetType() const override { return m_type; }
    std::string Describe() const override;
    void SetReadOnly() override;
    const RowsPtr& GetRows() const { return m_rows; }

protected:
    CStatusLogBase(Kernel::MessageType type, std::string className);

    const Common::Logs::CLogMessageDescriptor& Descriptor() const;
    typedef boost::function<void(const std::set<int>& seen, const std::string& where)> KeyCheck;

    // Runs the row checks; `checkKeys` adds the product-key step between mandatory and superfluous.
    void ValidateRows(const KeyCheck& checkKeys) const;
    std::string Prefix() const;
    static std::string Where(const std::string& prefix, size_t row);

private:
    Kernel::MessageType m_type;
    std::string m_className;
    RowsPtr m_rows;
};

}  // namespace Logs
}  // namespace Message
}  // namespace Common
}  // namespace Zun
