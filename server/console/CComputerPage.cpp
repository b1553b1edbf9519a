#include "server/console/CComputerPage.h"

#include "server/console/CHtml.h"
#include "server/console/CTimelineChart.h"

namespace Zun {
namespace Server {

using Poco::JSON::Array;
using Poco::JSON::Object;

namespace {

std::string Text(const Object::Ptr& object, const std::string& key) {
    return object->has(key) ? object->get(key).toString() : std::string();
}

// The time line's status rows (not its task results, listed from the host) as lines, newest first.
Array::Ptr StatusLines(const Array::Ptr& timeline) {
    Array::Ptr lines = new Array;
    for (std::size_t i = timeline ? timeline->size() : 0; i > 0; --i) {
        const Object::Ptr event = timeline->getObject(static_cast<unsigned>(i - 1));
        if (Text(event, "kind") != "task") {
            lines->add(Text(event, "line"));
        }
    }
    return lines;
}

}  // namespace

std::string CComputerPage::Render(const Object::Ptr& host, const Array::Ptr& timeline) {
    return Facts(host) + Escrow(host->getArray("escrow")) + CTimelineChart::Render(timeline) +
           List("Status history", StatusLines(timeline)) +
           List("Task results", host->getArray("task_results")) + List("Storage", host->getArray("storage")) +
           List("Licences", host->getArray("licences")) + List("Maintenance", host->getArray("maintenance")) +
           "<p><a href=\"/recovery?q=" + CHtml::Query(Text(host, "name")) + "\">Recovery</a></p>";
}

std::string CComputerPage::Facts(const Object::Ptr& host) {
    static const std::pair<const char*, const char*> facts[] = {{"last_seen", "Last seen"},
                                                                {"connected", "Connected"},
                                                                {"product", "Product"},
                                                                {"protection", "Protection"},
                                                                {"agent_version", "Agent version"},
                                                                {"first_seen", "First seen"},
                                                                {"certificate_serial", "Certificate serial"},
                                                                {"rows", "Rows held"}};
    std::string html = "<dl>";
    for (const auto& fact : facts) {
        html +=
            "<dt>" + std::string(fact.second) + "</dt><dd>" + CHtml::Escape(Text(host, fact.first)) + "</dd>";
    }
    return html + "</dl>";
}

std::string CComputerPage::Escrow(const Array::Ptr& items) {
    std::string html =
        "<h2>Escrow</h2><table><thead><tr><th>Kind</th><th>Recovery key id</th><th>Device</th><th>Index</th>"
        "<th>State</th><th>Escrowed</th><th>Confirmed</th></tr></thead><tbody>";
    for (std::size_t i = 0; items && i < items->size(); ++i) {
        const Object::Ptr item = items->getObject(static_cast<unsigned>(i));
        html += "<tr>" + CHtml::Cell(Text(item, "kind")) + CHtml::Cell(Text(item, "internal_id")) +
                CHtml::Cell(Text(item, "device_id")) + CHtml::Cell(Text(item, "index")) +
                CHtml::Cell(Text(item, "state")) + CHtml::Cell(Text(item, "escrowed")) +
                CHtml::Cell(Text(item, "confirmed")) + "</tr>";
    }
    return html + "</tbody></table>";
}

std::string CComputerPage::List(const std::string& title, const Array::Ptr& lines) {
    std::string html = "<h2>" + CHtml::Escape(title) + "</h2><ol reversed>";
    for (std::size_t i = 0; lines && i < lines->size(); ++i) {
        html += "<li>" + CHtml::Escape(lines->getElement<std::string>(static_cast<unsigned>(i))) + "</li>";
    }
    return html + "</ol>";
}

}  // namespace Server
}  // namespace Zun
