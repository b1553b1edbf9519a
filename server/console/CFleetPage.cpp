#include "server/console/CFleetPage.h"

#include <algorithm>
#include <tuple>

#include "server/console/CHtml.h"
#include "server/store/CFleetStore.h"

namespace Zun {
namespace Server {

const char* const CFleetPage::kNothingEscrowed = "nothing escrowed";
const char* const CFleetPage::kWaiting = "escrowed, not yet confirmed";
const char* const CFleetPage::kUnknown = "unknown";
const char* const CFleetPage::kNoDisks = "none escrowed";

namespace {

const char* const kAllClear = "all clear";
// How a storage status whose record is in order begins.
const char* const kInOrder = "in order";
const std::size_t kMaxFilter = 128;

std::string EscrowState(const CFleetView::HostSummary& host) {
    if (host.items == 0) {
        return CFleetPage::kNothingEscrowed;
    }
    return host.itemsUnconfirmed > 0 ? CFleetPage::kWaiting : CFleetStore::kConfirmed;
}

std::string Field(const Poco::Net::NameValueCollection& form, const std::string& name) {
    const std::string value = form.get(name, "");
    return value.size() > kMaxFilter ? value.substr(0, kMaxFilter) : value;
}

// The columns a sort may order by; the name, which breaks every tie, stands for itself.
const std::pair<const char*, std::string CFleetPage::Row::*> kSortKeys[] = {
    {"name", &CFleetPage::Row::name},
    {"last_seen", &CFleetPage::Row::lastSeen},
    {"product", &CFleetPage::Row::product},
    {"encryption", &CFleetPage::Row::encryption},
    {"disks", &CFleetPage::Row::disks},
    {"escrow", &CFleetPage::Row::escrow},
    {"licence", &CFleetPage::Row::licenceExpiry},
};

std::string CFleetPage::Row::*SortField(const std::string& sort) {
    for (const auto& key : kSortKeys) {
        if (sort == key.first) {
            return key.second;
        }
    }
    return &CFleetPage::Row::name;
}

bool Encrypted(const CFleetPage::Row& row) {
    return row.encryption.rfind(kInOrder, 0) == 0;
}

}  // namespace

CFleetPage::Query CFleetPage::Parse(const Poco::Net::NameValueCollection& form) {
    Query query;
    const std::string sort = form.get("sort", "name");
    for (const auto& key : kSortKeys) {
        query.sort = sort == key.first ? sort : query.sort;
    }
    query.descending = form.get("order", "") == "desc";
    query.product = Field(form, "product");
    query.escrow = Field(form, "escrow");
    query.text = Field(form, "q");
    const std::string page = form.get("page", "0");
    if (!page.empty() && page.size() < 7 && page.find_first_not_of("0123456789") == std::string::npos) {
        query.page = std::stoul(page);
    }
    return query;
}

std::vector<CFleetPage::Row> CFleetPage::Rows(const std::vector<CFleetView::HostSummary>& hosts) {
    std::vector<Row> rows;
    rows.reserve(hosts.size());
    for (const CFleetView::HostSummary& host : hosts) {
        Row row;
        row.name = host.name;
        row.lastSeen = host.lastSeen;
        row.connected = host.connected;
        row.product = host.product;
        row.protection = host.protection;
        row.encryption = host.storage.empty() ? kUnknown : host.storage;
        row.escrow = EscrowState(host);
        for (const std::string& disk : host.disks) {
            row.disks += (row.disks.empty() ? "" : ", ") + disk;
        }
        row.disks = row.disks.empty() ? kNoDisks : row.disks;
        row.licenceExpiry = host.licenceExpiry;
        rows.push_back(std::move(row));
    }
    return rows;
}

bool CFleetPage::Matches(const Row& row, const Query& query) {
    return (query.product.empty() || row.product == query.product) &&
           (query.escrow.empty() || row.escrow == query.escrow) &&
           (query.text.empty() || row.name.find(query.text) != std::string::npos);
}

std::string CFleetPage::Render(std::vector<Row> rows, const Query& query, const std::string& dayAgo) {
    std::string html = Counts(rows, dayAgo) + Filters(query);
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const Row& row) { return !Matches(row, query); }),
               rows.end());
    std::string Row::*field = SortField(query.sort);
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        const auto left = std::tie(a.*field, a.name);
        const auto right = std::tie(b.*field, b.name);
        return query.descending ? right < left : left < right;
    });
    Query shown = query;
    if (shown.page * kPageRows >= rows.size()) {
        shown.page = 0;
    }
    return html + Table(rows, shown, dayAgo) + Pages(rows.size(), shown);
}

std::string CFleetPage::Counts(const std::vector<Row>& rows, const std::string& dayAgo) {
    std::size_t connected = 0, clear = 0, encrypted = 0, escrowed = 0, confirmed = 0, unreachable = 0,
                stale = 0;
    for (const Row& row : rows) {
        connected += row.connected ? 1 : 0;
        encrypted += Encrypted(row) ? 1 : 0;
        clear += row.protection.find(kAllClear) != std::string::npos ? 1 : 0;
        escrowed += row.escrow != kNothingEscrowed ? 1 : 0;
        confirmed += row.escrow == CFleetStore::kConfirmed ? 1 : 0;
        unreachable += row.product == "not reachable" ? 1 : 0;
        stale += !row.connected && row.lastSeen < dayAgo ? 1 : 0;
    }
    const std::pair<const char*, std::size_t> counts[] = {{"computers", rows.size()},
                                                          {"connected", connected},
                                                          {"protection all clear", clear},
                                                          {"encrypted", encrypted},
                                                          {"escrowed", escrowed},
                                                          {"confirmed by the product", confirmed},
                                                          {"product not reachable", unreachable},
                                                          {"not seen for a day", stale}};
    std::string html = "<ul class=\"counts\" aria-label=\"counts\">";
    for (const auto& count : counts) {
        html += "<li>" + std::string(count.first) + ": <strong>" + std::to_string(count.second) +
                "</strong></li>";
    }
    return html + "</ul>";
}

std::string CFleetPage::Filters(const Query& query) {
    return "<form method=\"get\" action=\"/fleet\"><label>Name contains <input name=\"q\" value=\"" +
           CHtml::Escape(query.text) + "\"></label>" +
           CHtml::Choice("product", "Product", query.product,
                         {"", "connected", "not reachable", "not installed", "unknown"}) +
           CHtml::Choice("escrow", "Escrow", query.escrow,
                         {"", kNothingEscrowed, kWaiting, CFleetStore::kConfirmed}) +
           CHtml::Hidden("sort", query.sort) + "<button type=\"submit\">Filter</button></form>";
}

std::string CFleetPage::Header(const Query& query, const std::string& key, const std::string& title) {
    Query sorted = query;
    sorted.descending = query.sort == key && !query.descending;
    sorted.sort = key;
    sorted.page = 0;
    const std::string state = query.sort != key ? "none" : query.descending ? "descending" : "ascending";
    return "<th aria-sort=\"" + state + "\"><a href=\"" + Href(sorted) + "\">" + CHtml::Escape(title) +
           "</a></th>";
}

std::string CFleetPage::Table(const std::vector<Row>& rows, const Query& query, const std::string& dayAgo) {
    std::string html = "<table><thead><tr>" + Header(query, "name", "Computer") +
                       Header(query, "last_seen", "Last seen") + Header(query, "product", "Product") +
                       "<th>Protection</th>" + Header(query, "encryption", "Encryption storage") +
                       Header(query, "disks", "Encrypted disks") + Header(query, "escrow", "Escrow") +
                       Header(query, "licence", "Licence expiry") + "</tr></thead><tbody>";
    const std::size_t first = std::min(rows.size(), query.page * kPageRows);
    const std::size_t last = std::min(rows.size(), first + kPageRows);
    for (std::size_t i = first; i < last; ++i) {
        const Row& row = rows[i];
        const bool stale = !row.connected && row.lastSeen < dayAgo;
        html += "<tr><td><a href=\"/computer?name=" + CHtml::Query(row.name) + "\">" +
                CHtml::Escape(row.name) + "</a></td><td" + (stale ? " class=\"bad\"" : "") + ">" +
                CHtml::Escape(row.lastSeen) + (row.connected ? " (connected)" : "") + "</td>" +
                CHtml::Cell(row.product) + CHtml::Cell(row.protection) + CHtml::Cell(row.encryption) +
                CHtml::Cell(row.disks) + CHtml::Cell(row.escrow) + CHtml::Cell(row.licenceExpiry) + "</tr>";
    }
    return html + "</tbody></table>";
}

std::string CFleetPage::Pages(std::size_t matching, const Query& query) {
    const std::size_t pages = (matching + kPageRows - 1) / kPageRows;
    std::string html = "<p>" + std::to_string(matching) + " matching";
    if (pages > 1) {
        html += ", page " + std::to_string(query.page + 1) + " of " + std::to_string(pages);
        Query other = query;
        if (query.page > 0) {
            other.page = query.page - 1;
            html += " <a href=\"" + Href(other) + "\" rel=\"prev\">previous</a>";
        }
        if (query.page + 1 < pages) {
            other.page = query.page + 1;
            html += " <a href=\"" + Href(other) + "\" rel=\"next\">next</a>";
        }
    }
    return html + "</p>";
}

std::string CFleetPage::Href(Query query) {
    return "/fleet?sort=" + CHtml::Query(query.sort) + "&amp;order=" + (query.descending ? "desc" : "asc") +
           "&amp;product=" + CHtml::Query(query.product) + "&amp;escrow=" + CHtml::Query(query.escrow) +
           "&amp;q=" + CHtml::Query(query.text) + "&amp;page=" + std::to_string(query.page);
}

}  // namespace Server
}  // namespace Zun
