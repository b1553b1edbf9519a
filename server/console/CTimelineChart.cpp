#include "server/console/CTimelineChart.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeParser.h>
#include <Poco/JSON/Object.h>

#include <algorithm>
#include <regex>
#include <vector>

#include "server/console/CHtml.h"

namespace Zun {
namespace Server {

namespace {

// The drawing's own units; the browser scales it to the page's width.
const int kWidth = 800;
const int kPlotLeft = 120;
const int kPlotRight = 790;
const int kLaneHeight = 22;
const int kBandHeight = 16;
const int kMarkRadius = 5;

const std::pair<const char*, const char*> kLanes[] = {{"protection", "Protection"},
                                                      {"connector", "Connector"},
                                                      {"product", "Product status"},
                                                      {"storage", "Storage"},
                                                      {"task", "Task results"}};

const std::regex kIsoTime(
    "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\\.[0-9]+)?(Z|[+-][0-9]{2}:[0-9]{2})");

struct Event {
    double seconds = 0;
    std::string time;
    std::string kind;
    std::string line;
    std::string product;
};

std::vector<Event> Readable(const Poco::JSON::Array::Ptr& events) {
    std::vector<Event> found;
    for (std::size_t i = 0; events && i < events->size(); ++i) {
        const Poco::JSON::Object::Ptr given = events->getObject(static_cast<unsigned>(i));
        Event event;
        event.time = given->optValue<std::string>("time", "");
        Poco::DateTime parsed;
        int zone = 0;
        // Poco's parser takes what it can of any text; only a whole ISO 8601 time is placed.
        if (!std::regex_match(event.time, kIsoTime) ||
            !Poco::DateTimeParser::tryParse(Poco::DateTimeFormat::ISO8601_FRAC_FORMAT, event.time, parsed,
                                            zone)) {
            continue;
        }
        event.seconds = static_cast<double>(parsed.timestamp().epochMicroseconds()) / 1e6 - zone;
        event.kind = given->optValue<std::string>("kind", "");
        event.line = given->optValue<std::string>("line", "");
        event.product = given->optValue<std::string>("product", "unknown");
        found.push_back(event);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Event& a, const Event& b) { return a.seconds < b.seconds; });
    return found;
}

// "not reachable" -> "state-not-reachable", a class the style sheet colours.
std::string StateClass(const std::string& state) {
    std::string name = "state-";
    for (char c : state) {
        name += (c >= 'a' && c <= 'z') ? c : '-';
    }
    return name;
}

std::string Number(double value) {
    return std::to_string(static_cast<long long>(value));
}

std::string Band(const std::vector<Event>& events, double (*x)(double, double, double), double first,
                 double last) {
    std::string svg = "<text class=\"lane\" x=\"0\" y=\"" + Number(kBandHeight - 3) + "\">State</text>";
    for (std::size_t i = 0; i < events.size(); ++i) {
        const double from = x(events[i].seconds, first, last);
        const double to = i + 1 < events.size() ? x(events[i + 1].seconds, first, last) : kPlotRight;
        const std::string until = i + 1 < events.size() ? events[i + 1].time : "now";
        svg += "<rect class=\"" + StateClass(events[i].product) + "\" x=\"" + Number(from) +
               "\" y=\"0\" width=\"" + Number(std::max(to - from, 1.0)) + "\" height=\"" +
               Number(kBandHeight) + "\"><title>" +
               CHtml::Escape(events[i].product + " from " + events[i].time + " until " + until) +
               "</title></rect>";
    }
    return svg;
}

std::string Lanes(const std::vector<Event>& events, double (*x)(double, double, double), double first,
                  double last) {
    std::string svg;
    int lane = 1;
    for (const auto& kind : kLanes) {
        const int middle = lane * kLaneHeight + kBandHeight / 2;
        svg += "<text class=\"lane\" x=\"0\" y=\"" + Number(middle + 4) + "\">" + kind.second + "</text>";
        svg += "<line class=\"axis\" x1=\"" + Number(kPlotLeft) + "\" x2=\"" + Number(kPlotRight) +
               "\" y1=\"" + Number(middle) + "\" y2=\"" + Number(middle) + "\"/>";
        for (const Event& event : events) {
            if (event.kind == kind.first) {
                svg += "<circle class=\"mark\" cx=\"" + Number(x(event.seconds, first, last)) + "\" cy=\"" +
                       Number(middle) + "\" r=\"" + Number(kMarkRadius) + "\"><title>" +
                       CHtml::Escape(event.line) + "</title></circle>";
            }
        }
        ++lane;
    }
    return svg;
}

double Position(double seconds, double first, double last) {
    const double span = std::max(last - first, 1.0);
    return kPlotLeft + (seconds - first) / span * (kPlotRight - kPlotLeft);
}

}  // namespace

std::string CTimelineChart::Render(const Poco::JSON::Array::Ptr& events) {
    const std::vector<Event> readable = Readable(events);
    if (readable.empty()) {
        return std::string();
    }
    const double first = readable.front().seconds;
    const double last = readable.back().seconds;
    const int lanes = static_cast<int>(sizeof kLanes / sizeof kLanes[0]);
    const int height = (lanes + 1) * kLaneHeight + kBandHeight;
    const std::string span = readable.front().time + " to " + readable.back().time;
    return "<h2>Time line</h2><svg class=\"timeline\" role=\"img\" aria-labelledby=\"timeline-title\" "
           "viewBox=\"0 0 " +
           Number(kWidth) + " " + Number(height) +
           "\"><title id=\"timeline-title\">The product's state and " + std::to_string(readable.size()) +
           " status rows and task results, " + CHtml::Escape(span) +
           "</title><g transform=\"translate(0,4)\">" + Band(readable, &Position, first, last) +
           Lanes(readable, &Position, first, last) + "<text class=\"lane\" x=\"" + Number(kPlotLeft) +
           "\" y=\"" + Number(height - 6) + "\">" + CHtml::Escape(readable.front().time) +
           "</text><text class=\"lane end\" x=\"" + Number(kPlotRight) + "\" y=\"" + Number(height - 6) +
           "\">" + CHtml::Escape(readable.back().time) + "</text></g></svg>";
}

}  // namespace Server
}  // namespace Zun
