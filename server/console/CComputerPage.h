#pragma once

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <string>

namespace Zun {
namespace Server {

// One computer: what the fleet page shows of it and more (agent, certificate, storage, licences),
// its escrowed items (never a secret), a time line of its product state and rows, the history of its
// status rows and its task results.
class CComputerPage {
public:
    // host as CFleetView::Host gives it; timeline as CFleetView::Timeline.
    static std::string Render(const Poco::JSON::Object::Ptr& host, const Poco::JSON::Array::Ptr& timeline);

private:
    static std::string Facts(const Poco::JSON::Object::Ptr& host);
    static std::string Escrow(const Poco::JSON::Array::Ptr& items);
    static std::string List(const std::string& title, const Poco::JSON::Array::Ptr& lines);
};

}  // namespace Server
}  // namespace Zun
