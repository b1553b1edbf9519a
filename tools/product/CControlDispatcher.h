#pragma once

#include <Poco/JSON/Object.h>

#include <functional>
#include <map>
#include <string>

#include "tools/product/CFaultPlan.h"
#include "tools/product/CProduct.h"
#include "tools/product/IBroadcastArea.h"

namespace Zun {
namespace Tools {
namespace Product {

class CJsonReader;

// Carries out one control line: a JSON object whose "op" names the operation. Every line gets one
// JSON answer line, {"ok":true,...} or {"ok":false,"error":"..."}; bad input never gets further.
class CControlDispatcher {
public:
    struct Answer {
        std::string Line;
        // Runs once the answer has been sent (an operation that ends the process answers first).
        std::function<void()> After;
    };

    CControlDispatcher(CProduct& product, CFaultPlan& faults, IBroadcastArea& area,
                       std::function<void()> stop);

    Answer Handle(const std::string& line);
    // Adds what the serving side knows (ports, their use, the object root) to `status` answers.
    void SetStatusSource(std::function<void(Poco::JSON::Object::Ptr& answer)> source) {
        m_statusSource = std::move(source);
    }

private:
    // An operation reads all its arguments first and acts only once the line has been checked whole.
    struct Action {
        std::function<void(Poco::JSON::Object::Ptr& answer)> Now;
        std::function<void()> After;
    };
    typedef Action (CControlDispatcher::*Operation)(CJsonReader& request);

    Action Show(CJsonReader& request);
    Action Status(CJsonReader& request);
    Action SetStatus(CJsonReader& request);
    Action SetLicences(CJsonReader& request);
    Action AddRecovery(CJsonReader& request);
    Action QueueTask(CJsonReader& request);
    Action SetServerValue(CJsonReader& request);
    Action Bump(CJsonReader& request);
    Action CommandResult(CJsonReader& request);
    Action Pings(CJsonReader& request);
    Action AddFault(CJsonReader& request);
    Action ClearFaults(CJsonReader& request);
    Action CorruptHeader(CJsonReader& request);
    Action HoldMutex(CJsonReader& request);
    Action ReleaseMutex(CJsonReader& request);
    Action DieHoldingMutex(CJsonReader& request);
    Action Stop(CJsonReader& request);
    Action Ping(CJsonReader& request);

    static void Require(CJsonReader& request, const std::string& key);
    static std::string Line(const Poco::JSON::Object::Ptr& object);

    CProduct& m_product;
    CFaultPlan& m_faults;
    IBroadcastArea& m_area;
    std::function<void()> m_stop;
    std::function<void(Poco::JSON::Object::Ptr& answer)> m_statusSource;
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
