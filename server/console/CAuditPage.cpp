#include "server/console/CAuditPage.h"

#include "server/console/CHtml.h"

namespace Zun {
namespace Server {

std::string CAuditPage::Render(const std::vector<CFleetStore::AuditEntry>& entries) {
    std::string html =
        "<table><thead><tr><th>#</th><th>Time</th><th>Who</th><th>Action</th><th>Computer</th><th>Items</th>"
        "<th>Reason</th></tr></thead><tbody>";
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        html += "<tr>" + CHtml::Cell(std::to_string(entry->id)) + CHtml::Cell(entry->time) +
                CHtml::Cell(entry->who) + CHtml::Cell(entry->action) + CHtml::Cell(entry->computer) +
                CHtml::Cell(entry->items) + CHtml::Cell(entry->reason) + "</tr>";
    }
    return html + "</tbody></table>";
}

}  // namespace Server
}  // namespace Zun
