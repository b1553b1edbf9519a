#pragma once

#include <Poco/Net/NameValueCollection.h>
#include <string>
#include <vector>

#include "server/service/CFleetView.h"

namespace Zun {
namespace Server {

// The fleet page: the counts at the top, then one row per computer (name, last seen, product state,
// protection, encryption storage, encrypted disks, escrow, licence expiry), sorted and filtered by the query
// string, a page of kPageRows at a time so that the page stays small at any fleet size.
class CFleetPage {
public:
    static const std::size_t kPageRows = 200;
    static const char* const kNothingEscrowed;
    static const char* const kWaiting;
    static const char* const kUnknown;
    static const char* const kNoDisks;

    struct Query {
        std::string sort = "name";  // name, last_seen, product, encryption, disks, escrow, licence
        bool descending = false;
        std::string product;  // a product state, or empty for any
        std::string escrow;   // an escrow state, or empty for any
        std::string text;     // part of the name
        std::size_t page = 0;
    };
    struct Row {
        std::string name;
        std::string lastSeen;
        bool connected = false;
        std::string product;
        std::string protection;
        std::string encryption;  // as the product words its storage status, or kUnknown
        std::string disks;       // the disks it keeps recovery material for, or kNoDisks
        std::string escrow;
        std::string licenceExpiry;
    };

    // Unknown sort keys fall back to the name; throws nothing.
    static Query Parse(const Poco::Net::NameValueCollection& form);
    static std::vector<Row> Rows(const std::vector<CFleetView::HostSummary>& hosts);
    // dayAgo: the time a day before now as the fleet's rows write it, for "not seen for a day". A page
    // past the last of the matching rows shows the first.
    static std::string Render(std::vector<Row> rows, const Query& query, const std::string& dayAgo);

private:
    static std::string Counts(const std::vector<Row>& rows, const std::string& dayAgo);
    static std::string Filters(const Query& query);
    static std::string Table(const std::vector<Row>& rows, const Query& query, const std::string& dayAgo);
    static std::string Header(const Query& query, const std::string& key, const std::string& title);
    static std::string Pages(std::size_t matching, const Query& query);
    static std::string Href(Query query);
    static bool Matches(const Row& row, const Query& query);
};

}  // namespace Server
}  // namespace Zun
