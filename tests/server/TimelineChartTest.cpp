#include <gtest/gtest.h>

#include <Poco/JSON/Object.h>
#include <regex>
#include <string>
#include <vector>

#include "server/console/CTimelineChart.h"

namespace Zun {
namespace Server {
namespace {

struct Given {
    const char* time;
    const char* kind;
    const char* line;
    const char* product;
};

Poco::JSON::Array::Ptr Events(const std::vector<Given>& given) {
    Poco::JSON::Array::Ptr events = new Poco::JSON::Array;
    for (const Given& g : given) {
        Poco::JSON::Object::Ptr event = new Poco::JSON::Object;
        event->set("time", std::string(g.time));
        event->set("kind", std::string(g.kind));
        event->set("line", std::string(g.line));
        event->set("product", std::string(g.product));
        events->add(event);
    }
    return events;
}

// Every match of the pattern's first group, in order.
std::vector<std::string> All(const std::string& text, const std::string& pattern) {
    std::vector<std::string> found;
    const std::regex expression(pattern);
    for (std::sregex_iterator it(text.begin(), text.end(), expression), end; it != end; ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

// The band shows each state from its row to the next, in time order and to scale; the marks sit in
// their kind's lane; what a row says is escaped; rows without a readable time are left out.
TEST(TimelineChartTest, TheBandFollowsTheStatesInTimeAndEveryLineIsEscaped) {
    const std::string svg = CTimelineChart::Render(Events({
        {"2026-12-06T10:00:00.000Z", "connector", "connected <b>", "connected"},
        {"2026-12-06T10:30:00.000Z", "protection", "unreachable \"6\"", "not reachable"},
        {"not a time", "protection", "lost", "not installed"},
        {"2026-12-06T10:10:00.000Z", "task", "done & said so", "connected"},
        {"2026-12-06T11:00:00.000Z", "connector", "back", "connected"},
    }));
    EXPECT_EQ(All(svg, "<rect class=\"state-([a-z-]+)\""),
              (std::vector<std::string>{"connected", "connected", "not-reachable", "connected"}));
    // From 10:00 to 11:00 over the plot's 670 units: 10:10 and 10:30 fall a sixth and half way.
    EXPECT_EQ(All(svg, "<rect class=\"[a-z-]+\" x=\"([0-9]+)\""),
              (std::vector<std::string>{"120", "231", "455", "790"}));
    EXPECT_EQ(All(svg, "<circle class=\"mark\" cx=\"[0-9]+\" cy=\"([0-9]+)\""),
              (std::vector<std::string>{"30", "52", "52", "118"}));
    EXPECT_NE(svg.find("connected &lt;b&gt;"), std::string::npos);
    EXPECT_NE(svg.find("done &amp; said so"), std::string::npos);
    EXPECT_EQ(svg.find("<b>"), std::string::npos);
    EXPECT_EQ(svg.find("lost"), std::string::npos);
    EXPECT_EQ(svg.find("style="), std::string::npos);
}

TEST(TimelineChartTest, NothingToDrawDrawsNothing) {
    EXPECT_EQ(CTimelineChart::Render(Events({})), "");
    EXPECT_EQ(CTimelineChart::Render(Events({{"yesterday", "task", "x", "unknown"}})), "");
    // One row alone still shows its state, across the whole plot.
    const std::string one =
        CTimelineChart::Render(Events({{"2026-12-06T10:00:00.000Z", "task", "x", "connected"}}));
    EXPECT_EQ(All(one, "width=\"([0-9]+)\" height"), (std::vector<std::string>{"670"}));
}

}  // namespace
}  // namespace Server
}  // namespace Zun
