#pragma once

#include "logs/CStatusLogBase.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Logs {

// The status log of a multi-product log: every row repeats the product-key symbols of the product
// identifier with equal values.
class CMultiProductStatusLog : public CStatusLogBase {
public:
    typedef boost::shared_ptr<Common::Logs::ISymbolContainer> ProductPtr;

    CMultiProductStatusLog(Kernel::MessageType type, const ProductPtr& productIdentifier);

    bool Equals(const Kernel::IMessage& other) const override;
    void Validate() const override;
    const ProductPtr& GetProductIdentifier() const { return m_product; }

private:
    void CheckProductKeys(const std::set<int>& keys, const std::set<int>& seen, const std::string& where,
                          const std::string& prefix) const;

    ProductPtr m_product;
};

}  // namespace Logs
}  // namespace Message
}  // namespace Common
}  // namespace Zun
