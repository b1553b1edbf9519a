#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "server/console/CFleetPage.h"

namespace Zun {
namespace Server {
namespace {

const char* const kDayAgo = "2026-12-05T12:00:00.000Z";

std::string Name(std::size_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "pc-%05zu", i);
    return name;
}

std::vector<CFleetPage::Row> Fleet(std::size_t computers) {
    std::vector<CFleetPage::Row> rows(computers);
    for (std::size_t i = 0; i < computers; ++i) {
        rows[i].name = Name(i);
        rows[i].lastSeen = "2026-12-06T10:00:00.000Z";
        rows[i].connected = true;
        rows[i].product = "connected";
    }
    return rows;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

struct PageCase {
    std::size_t computers;
    std::size_t page;
    std::size_t shown;  // table rows
    std::size_t first;  // the first computer shown, when any
    const char* footer;
    bool previous;
    bool next;
};

// The table shows one page of the matching rows; the footer counts them all and links the pages on
// either side, and a page past the end (an old link after computers went away) shows the first.
class FleetPagingTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(FleetPagingTest, ShowsOnePageAndLinksItsNeighbours) {
    const PageCase& c = GetParam();
    CFleetPage::Query query;
    query.page = c.page;
    const std::string html = CFleetPage::Render(Fleet(c.computers), query, kDayAgo);
    EXPECT_EQ(Count(html, "<tr><td>"), c.shown);
    if (c.shown > 0) {
        EXPECT_NE(html.find("name=" + Name(c.first) + "\""), std::string::npos);
        EXPECT_NE(html.find("name=" + Name(c.first + c.shown - 1) + "\""), std::string::npos);
        EXPECT_EQ(html.find("name=" + Name(c.first + c.shown) + "\""), std::string::npos);
    }
    EXPECT_NE(html.find("<p>" + std::string(c.footer)), std::string::npos) << html.substr(html.rfind("<p>"));
    EXPECT_EQ(html.find("rel=\"prev\"") != std::string::npos, c.previous);
    EXPECT_EQ(html.find("rel=\"next\"") != std::string::npos, c.next);
}

const std::size_t kRows = CFleetPage::kPageRows;

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FleetPagingTest,
    ::testing::Values(PageCase{0, 0, 0, 0, "0 matching</p>", false, false},
                      PageCase{kRows, 0, kRows, 0, "200 matching</p>", false, false},
                      PageCase{kRows + 1, 0, kRows, 0, "201 matching, page 1 of 2", false, true},
                      PageCase{kRows + 1, 1, 1, kRows, "201 matching, page 2 of 2", true, false},
                      PageCase{3 * kRows, 1, kRows, kRows, "600 matching, page 2 of 3", true, true},
                      PageCase{kRows + 1, 2, kRows, 0, "201 matching, page 1 of 2", false, true},
                      PageCase{10, 999999, 10, 0, "10 matching</p>", false, false}));

}  // namespace
}  // namespace Server
}  // namespace Zun
