#pragma once

#include <Poco/JSON/Array.h>
#include <string>

namespace Zun {
namespace Server {

// A computer's recent history as a small time line drawn in SVG on the server: a band of the
// product's state (connected, not reachable, not installed, unknown) over time, and below it one
// lane per kind of row with a mark for each, its readable line as the mark's title. No script and
// no inline style, so the console's content security policy holds; the lists beside it say the same
// in text.
class CTimelineChart {
public:
    // events as CFleetView::Timeline gives them, oldest first; empty when none has a readable time.
    static std::string Render(const Poco::JSON::Array::Ptr& events);
};

}  // namespace Server
}  // namespace Zun
