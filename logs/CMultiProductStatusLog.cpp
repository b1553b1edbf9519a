#include "logs/CMultiProductStatusLog.h"

#include <google/protobuf/util/message_differencer.h>

#include <stdexcept>

#include "logs/CLogValidator.h"

namespace Zun {
namespace Common {
namespace Message {
namespace Logs {

using Common::Logs::CLogDescriptorMap;
using Common::Logs::TAG_PRODUCT_KEY;

CMultiProductStatusLog::CMultiProductStatusLog(Kernel::MessageType type, const ProductPtr& productIdentifier)
    : CStatusLogBase(type, "CMultiProductStatusLog"), m_product(productIdentifier) {
    const std::string head = "CMultiProductStatusLog: Message type " + std::to_string(type);
    if (Descriptor().GetStatusMessageType() != type) {
        throw std::runtime_error(head + " is not status log");
    }
    const CLogDescriptorMap::LogPtr log = CLogDescriptorMap::Instance().GetLogDescriptor(Descriptor());
    if (!log->IsLogMultiproduct()) {
        throw std::runtime_error(head + " is a multi product status log but a CStatusLog");
    }
    for (const auto& key : log->GetDeltaSymbolsByTag(TAG_PRODUCT_KEY)) {
        if (!m_product || !m_product->HasSymbol(key->GetDeltaSymbolType())) {
            throw std::runtime_error(
                "CMultiProductStatusLog: Product identifier must have set fields that have TAG_PRODUCT_KEY set !");
        }
    }
}

bool CMultiProductStatusLog::Equals(const Kernel::IMessage& other) const {
    if (other.GetType() != GetType()) {
        return false;
    }
    return GetRows()->Equals(*dynamic_cast<const CMultiProductStatusLog&>(other).GetRows());
}

void CMultiProductStatusLog::Validate() const {
    std::set<int> keys;
    for (const auto& symbol : CLogDescriptorMap::Instance().GetLogDescriptor(GetType())->GetDeltaSymbols()) {
        if (symbol->HasTag(TAG_PRODUCT_KEY)) {
            keys.insert(symbol->GetDeltaSymbolType());
        }
    }
    const std::string prefix = Prefix();
    ValidateRows([&](const std::set<int>& seen, const std::string& where) {
        CheckProductKeys(keys, seen, where, prefix);
    });
}

// Every row of the log is compared while the current row is examined, so a mismatch in row 1 is
// reported while row 0 is checked.
void CMultiProductStatusLog::CheckProductKeys(const std::set<int>& keys, const std::set<int>& seen,
                                              const std::string& where, const std::string& prefix) const {
    using google::protobuf::util::MessageDifferencer;
    for (int key : keys) {
        if (seen.count(key) == 0) {
            Common::Logs::CLogValidator::Fail(
                where, "Container is missing symbol '" + std::to_string(key) + "' (symbol is mandatory)");
        }
        const auto expected = m_product->GetSymbol(key);
        for (size_t j = 0; j < GetRows()->GetRowCount(); ++j) {
            if (!MessageDifferencer::Equals(GetRows()->GetRow(j)->GetSymbol(key), expected)) {
                Common::Logs::CLogValidator::Fail(
                    Where(prefix, j), "Container symbol does not match the product identifications symbol '" +
                                          std::to_string(key) + "' (symbol is mandatory)");
            }
        }
    }
}

}  // namespace Logs
}  // namespace Message
}  // namespace Common
}  // namespace Zun
