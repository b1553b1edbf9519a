#include "logs/CTaskResultEvent.h"

#include <boost/make_shared.hpp>

namespace Zun {
namespace Connectors {
namespace Common {

boost::shared_ptr<Zun::Common::Message::Logs::CEventLog> CTaskResultEvent::Build(const Content& content) {
    auto event = boost::make_shared<Zun::Common::Message::Logs::CEventLog>(Type);
    Zun::Common::Logs::ISymbolContainer& symbols = *event->GetContainer();
    symbols.AddInt32(2836, content.severity).AddUuid(2834, content.instanceUUID).AddCurrentTime(2838);
    symbols.AddUuid(2842, content.first).AddUuid(2846, content.third).AddUuid(2844, content.second);
    symbols.AddResId(2848, content.code)
        .AddResId(2853, content.connectorProductId)
        .AddInt(2850, content.state);
    if (!content.text.empty()) {
        symbols.AddString(2913, content.text);
    }
    event->SetReadOnly();
    return event;
}

}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
